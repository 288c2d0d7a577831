// Settling the pending uninstall, enable and disable actions and staging them.
#include "resolve/action_engine.h"

#include <algorithm>
#include <string>
#include <unordered_set>

#include "console/messages.h"
#include "repo/entry_directory.h"
#include "repo/entry_writer.h"
#include "repo/package_entry.h"
#include "repo/repository.h"
#include "resolve/action_phases.h"
#include "resolve/ordering.h"
#include "staging/staged_changes.h"

std::vector<Package*> removalList(const Repository& repository) {
  std::vector<Package*> removals;
  for (auto it = repository.packages.rbegin(); it != repository.packages.rend(); ++it) {
    const PendingAction action = (*it)->action;
    if (action == PendingAction::Uninstall || action == PendingAction::Disable) removals.push_back(it->get());
  }
  return removals;
}

std::vector<Package*> enableList(Repository& repository) {
  std::vector<PackageInfo*> candidates;
  for (auto& owned : repository.packages) {
    if (owned->action == PendingAction::Enable) candidates.push_back(owned.get());
  }
  orderCandidates(repository, candidates, kNoMinimum, false);
  std::vector<Package*> enables;
  enables.reserve(candidates.size());
  for (PackageInfo* candidate : candidates) enables.push_back(static_cast<Package*>(candidate));
  return enables;
}

namespace {

void disablePackage(Package& package, int verbosity, StagedChanges& staged) {
  const std::string label = packageLabel(package);
  if (verbosity != 0) setProgressLine("disabling " + label + "...");
  // A record without a name of its own (a bundle's blocker) has no entry
  // directory: its path would be the database directory itself.
  if (hasValidEntryName(package.name)) {
    stageRemoval(staged, entryDirectory(package) + "enabled");
    writeDisabledFile(package, staged);
  }
  package.disabled = true;
  package.action = PendingAction::None;
  if (verbosity != 0) printInfo("disabled %s", label.c_str());
}

}  // namespace

void carryOutRemovals(Repository& repository, const std::vector<Package*>& removals, int verbosity,
                      StagedChanges& staged) {
  std::unordered_set<const Package*> uninstalled;
  for (Package* package : removals) {
    if (package->action == PendingAction::Disable) {
      disablePackage(*package, verbosity, staged);
      continue;
    }
    // Uninstalling is silent at any verbosity. The entry leaves for good, so
    // the state files an earlier pass of the run staged for it go too.
    if (hasValidEntryName(package->name)) {
      dropChangesBelow(staged, entryDirectory(*package));
      removeEntry(repository, *package, staged);
    }
    package->action = PendingAction::None;
    uninstalled.insert(package);
  }
  if (uninstalled.empty()) return;
  // The record itself leaves the list, not the first record of its name: with
  // two records of one name that would destroy the one that stays. Taking
  // them out in one pass keeps many uninstallations linear.
  auto& packages = repository.packages;
  packages.erase(std::remove_if(packages.begin(), packages.end(),
                                [&](const std::unique_ptr<Package>& owned) {
                                  return uninstalled.count(owned.get()) != 0;
                                }),
                 packages.end());
}

void carryOutEnables(Repository& repository, const std::vector<Package*>& enables, int verbosity,
                     StagedChanges& staged) {
  std::vector<Package*> recorded;
  recorded.reserve(enables.size());
  for (Package* package : enables) {
    if (hasValidEntryName(package->name)) {
      recorded.push_back(package);
    } else {
      package->disabled = false;
      package->action = PendingAction::None;
    }
  }
  recordEnabled(repository, recorded, staged, verbosity != 0);
}

bool applyActions(Repository& repository, int verbosity, StagedChanges& staged) {
  if (!decideActions(repository, verbosity)) return false;
  const std::vector<Package*> removals = removalList(repository);
  const std::vector<Package*> enables = enableList(repository);
  carryOutRemovals(repository, removals, verbosity, staged);
  carryOutEnables(repository, enables, verbosity, staged);
  return !removals.empty() || !enables.empty();
}
