// The record of a commit in progress: the staged set, in order, kept on flash
// from just before the first change until just after the last one. A run cut
// off in between leaves it behind, and the next run carries the set out from
// it. The record lives in the temporaries' folder of "/flash", whose name
// begins with "." like nothing the database loader looks at.
#pragma once
#include "staging/staged_changes.h"

inline constexpr const char* kCommitRecordPath = "/flash/.installer/commit";

// Writes the record and makes it durable (the file and its folder). False,
// with errno set and nothing left behind, when it cannot be written whole.
bool writeCommitRecord(const StagedChanges& set, bool runPostCommit);
// False when there is no record, or one that was never written whole.
bool readCommitRecord(StagedChanges* set, bool* runPostCommit);
// Removes the record durably.
void removeCommitRecord();
