#include <cstdio>

int main() {
  std::fprintf(stderr, "qpk: not built yet\n");
  return 1;
}
