// Placeholder until this mode is built: it says so and fails, never pretending success.
#include <cstdio>

#include "app/modes.h"

int runShowMode(Repository&) {
  std::fprintf(stderr, "installer: this mode is not built yet\n");
  return 1;
}
