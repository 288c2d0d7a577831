// Whether the staged changes fit on "/flash/boot" and "/flash".
#pragma once
#include <cstdint>

#include "staging/staged_changes.h"

// Margins in bytes after the changes, less a reserve; negative means short.
bool checkDiskSpace(const StagedChanges& staged, int64_t* bootMargin, int64_t* flashMargin);
