// "--cleanup": marks for uninstallation every package not built for a system
// of 3.22 or later and lets the action engine remove them.
#pragma once
#include "staging/staged_changes.h"

class Repository;

void cleanup(Repository& repository, StagedChanges& staged);
