// The run modes after the root change; each returns the exit status.
#pragma once
#include <cstdint>

#include "staging/staged_changes.h"

class Repository;

inline constexpr const char* kChangedMarker = "/flash/PCKGS_CHANGED";

// Stages the empty changed-packages marker; false (with an error printed)
// when its temporary cannot be made, in which case nothing may be committed.
bool stageChangedMarker(StagedChanges& staged);

int runShowMode(Repository& repository);
int runCleanupMode(Repository& repository);
int runStandardInputMode(Repository& repository, uint32_t tolerated);
int runUpgradeMode(Repository& repository, uint32_t tolerated, bool commitAtOnce);

// fork, chroot(root), exec program with argv {argv0}; waits for it.
void runPostCommitProgram(const char* root, const char* program, const char* argv0);
