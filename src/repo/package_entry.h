// A record's own database entry: read back at start-up, staged away when the
// package goes.
#pragma once
#include "model/package.h"
#include "staging/staged_changes.h"

// Completes the record from its entry directory and its schedule file.
void loadEntry(Package& package);
// Stages the removal of everything the package put on flash.
void removeEntry(Package& package, StagedChanges& staged);
