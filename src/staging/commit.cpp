// Placeholder until the commit is built.
#include <cstdio>
#include <cstdlib>

#include "staging/commit.h"

void runCommitMode() {
  std::fprintf(stderr, "installer: --commit is not built yet\n");
  std::exit(1);
}
void runCancelMode() {
  std::fprintf(stderr, "installer: --cancel is not built yet\n");
  std::exit(1);
}
