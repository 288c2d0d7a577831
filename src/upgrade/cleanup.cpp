// The clean-up: uninstall every package that was not built for a system of
// 3.22 or later, keeping the base packages and bundle records.
#include "upgrade/cleanup.h"

#include "repo/repository.h"
#include "resolve/action_engine.h"

namespace {

// The last version below 3.22; a dependency on "system" must be above it.
constexpr Version kCleanupThreshold = 0x031665FFu;

bool isExempt(const Package& package) {
  return package.isBundle || package.name == "zelk" || package.name == "disk-drivers" ||
         package.name == "system";
}

bool requiresCurrentSystem(const Package& package) {
  for (const Relation& dependency : package.dependencies) {
    if (dependency.name == "system" && dependency.minVersion > kCleanupThreshold) return true;
  }
  return false;
}

}  // namespace

void cleanup(Repository& repository, StagedChanges& staged) {
  // Scheduled requests first, silently, so the marks below start from them.
  applyActions(repository, 0, staged);
  for (const auto& package : repository.packages) {
    if (isExempt(*package) || requiresCurrentSystem(*package)) continue;
    package->action = PendingAction::Uninstall;
  }
  applyActions(repository, 1, staged);
}
