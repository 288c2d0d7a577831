// Whether a candidate read from a package file may be installed.
#pragma once
#include <cstdint>

#include "model/package.h"

class Repository;

// Outcome bits; callers pass the same values as the set they tolerate.
inline constexpr uint32_t kOutcomeNewer = 0x01;
inline constexpr uint32_t kOutcomeOlder = 0x02;
inline constexpr uint32_t kOutcomeRefused = 0x08;
inline constexpr uint32_t kOutcomeConflicts = 0x10;
inline constexpr uint32_t kOutcomeEqual = 0x20;

// Process-wide: the router is in flagged state. Read once at start-up.
extern bool flaggedState;
void initFlaggedState();

// Returns the outcome bits found; prints at most one message, for the first
// outcome that is not tolerated.
uint32_t checkCandidate(Repository& repository, uint32_t tolerated, const PackageInfo& candidate);
