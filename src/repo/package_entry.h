// A record's own database entry: read back at start-up, staged away when the
// package goes.
#pragma once
#include "model/package.h"
#include "staging/staged_changes.h"

class Repository;

// Completes the record from its entry directory and its schedule file.
void loadEntry(Package& package);
// Stages the removal of everything the package put on flash, except what
// another record in the repository still lists, and gives up its place in
// the ownership index. Only files below "/flash" (outside the database) are
// removed; a stored path that names a folder is passed over.
void removeEntry(Repository& repository, Package& package, StagedChanges& staged);
