// The phases of applyActions, one decision each, in the order the engine runs
// them. Phases 1 to 6 only change pending actions in memory; nothing is
// staged before the lists are carried out.
#pragma once
#include <vector>

#include "model/package.h"
#include "resolve/provider_index.h"
#include "staging/staged_changes.h"

class Repository;

// Will be enabled once the actions are carried out.
inline bool isActive(const Package& package) {
  return package.action == PendingAction::Enable ||
         (package.action == PendingAction::None && !package.disabled);
}

// 1. A bundle's action reaches its members.
void propagateBundleActions(Repository& repository, const ProviderIndex& index);
// 2. What active packages need stays or becomes enabled.
void keepActiveDependencies(Repository& repository, int verbosity, const ProviderIndex& index);
// 3. Of two active packages that exclude each other, the one examined first wins.
void settleConflicts(Repository& repository, int verbosity);
// 4. Packages whose dependencies cannot be met go (Uninstall) or wait (Disable).
void dropUnmetDependencies(Repository& repository, const ProviderIndex& index);
// 5. A bundle without active members goes, or keeps no pending Enable.
void settleEmptyBundles(Repository& repository);
// 6. True (and every action dropped) when nothing would stay enabled.
bool refuseEmptySystem(Repository& repository, int verbosity);

// Phases 1 to 6; false when the run was refused.
bool decideActions(Repository& repository, int verbosity);

// 7. Uninstall and Disable, the last installed first.
std::vector<Package*> removalList(const Repository& repository);
// 7. Enable, in dependency order, superseded entries dropped.
std::vector<Package*> enableList(Repository& repository);
// 8. Uninstalled records leave packages and are destroyed.
void carryOutRemovals(Repository& repository, const std::vector<Package*>& removals, int verbosity,
                      StagedChanges& staged);
// 9.
void carryOutEnables(Repository& repository, const std::vector<Package*>& enables, int verbosity,
                     StagedChanges& staged);
