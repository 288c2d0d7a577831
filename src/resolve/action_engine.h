// Settles the pending uninstall, enable and disable actions and stages them.
#pragma once
#include "staging/staged_changes.h"

class Repository;

// True when something was uninstalled, disabled or is to be enabled.
bool applyActions(Repository& repository, int verbosity, StagedChanges& staged);
