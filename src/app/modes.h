// The run modes after the root change; each returns the exit status.
#pragma once
#include <cstdint>

class Repository;

int runShowMode(Repository& repository);
int runCleanupMode(Repository& repository);
int runStandardInputMode(Repository& repository, uint32_t tolerated);
int runUpgradeMode(Repository& repository, uint32_t tolerated, bool commitAtOnce);

// fork, chroot(root), exec program with argv {argv0}; waits for it.
void runPostCommitProgram(const char* root, const char* program, const char* argv0);
