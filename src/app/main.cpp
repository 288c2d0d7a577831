#include <cstdio>

int main() {
  std::fprintf(stderr, "installer: not built yet\n");
  return 1;
}
