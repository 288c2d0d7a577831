// The run modes; each returns the exit status.
#pragma once
#include <cstdint>

#include "staging/staged_changes.h"

class Repository;

inline constexpr const char* kChangedMarker = "/flash/PCKGS_CHANGED";
// "installer -" copies the piped image here while it installs it.
inline constexpr const char* kImageCopyPath = "/flash/var/pdb//image";

// Every run that may change flash starts here, before the database is
// loaded: it finishes a commit that an interrupted run left in its record
// (saying so in one line) and deletes the temporaries of a run that never
// got that far.
void settleInterruptedRun();

// The disk-space verdict of an installing run; false (with one error line
// per short file system) when the staged changes do not fit.
bool checkRoom(const StagedChanges& staged);
// Stages the empty changed-packages marker; false (with an error printed)
// when its temporary cannot be made, in which case nothing may be committed.
bool stageChangedMarker(StagedChanges& staged);

// Before any change of root.
void runCommitMode();
void runCancelMode();

int runShowMode(Repository& repository);
int runCleanupMode(Repository& repository);
int runStandardInputMode(Repository& repository, uint32_t tolerated);
int runUpgradeMode(Repository& repository, uint32_t tolerated, bool commitAtOnce);

// fork, chroot(root), exec program with argv {argv0}; waits for it.
void runPostCommitProgram(const char* root, const char* program, const char* argv0);
