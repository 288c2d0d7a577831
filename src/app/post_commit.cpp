#include "app/modes.h"

void runPostCommitProgram(const char*, const char*, const char*) {}
