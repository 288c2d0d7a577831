// Placeholder until key generation, signing and verification are built.
#include <cstdio>

#include "qpk/commands.h"

namespace qpk {
int runKeygenCommand(int, char**) { std::fprintf(stderr, "qpk keygen: not built yet\n"); return 1; }
int runSignCommand(int, char**) { std::fprintf(stderr, "qpk sign: not built yet\n"); return 1; }
int runVerifyCommand(int, char**) { std::fprintf(stderr, "qpk verify: not built yet\n"); return 1; }
}  // namespace qpk
