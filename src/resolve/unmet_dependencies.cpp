// Packages whose dependencies cannot be met once the actions are carried out.
//
// The rule is a scan over the installed list that starts again from the first
// package after every change. A package that passed the scan without a change
// can only change after one of its providers did, so the rescan is kept as a
// queue of the packages that may change, taken smallest position first: the
// package taken is exactly the one the restarted scan would stop at, and the
// results are those of the plain scan at a fraction of its cost.
#include <functional>
#include <queue>
#include <vector>

#include "repo/repository.h"
#include "resolve/action_phases.h"
#include "resolve/ordering.h"

namespace {

// Applies the first change the package's dependencies call for; false when
// none does.
bool settleOne(Package& package, const std::vector<std::vector<Package*>>& providers) {
  for (const std::vector<Package*>& list : providers) {
    const int status = dependencyStatus(list);
    if (status == 1) {
      if (package.action == PendingAction::Uninstall) continue;
      package.action = PendingAction::Uninstall;
      return true;
    }
    if (status == 3) {
      if (package.action == PendingAction::Uninstall || package.action == PendingAction::Disable) continue;
      if (package.disabled && package.action == PendingAction::None) continue;
      package.action = PendingAction::Disable;
      return true;
    }
  }
  return false;
}

}  // namespace

void dropUnmetDependencies(Repository& repository, const ProviderIndex& index) {
  auto& packages = repository.packages;
  const int count = static_cast<int>(packages.size());
  std::vector<std::vector<std::vector<Package*>>> providers(count);
  std::vector<std::vector<int>> dependents(count);
  for (int i = 0; i < count; ++i) {
    for (const Relation& dependency : packages[i]->dependencies) {
      providers[i].emplace_back();
      for (int provider : index.positions(dependency)) {
        providers[i].back().push_back(packages[provider].get());
        std::vector<int>& list = dependents[provider];
        if (list.empty() || list.back() != i) list.push_back(i);
      }
    }
  }

  std::priority_queue<int, std::vector<int>, std::greater<int>> pending;
  std::vector<bool> queued(count, true);
  for (int i = 0; i < count; ++i) pending.push(i);
  while (!pending.empty()) {
    const int i = pending.top();
    pending.pop();
    queued[i] = false;
    if (!settleOne(*packages[i], providers[i])) continue;
    // The package itself may change once more (Disable, then Uninstall), and
    // whoever it provides for sees a different provider now.
    queued[i] = true;
    pending.push(i);
    for (int dependent : dependents[i]) {
      if (!queued[dependent]) {
        queued[dependent] = true;
        pending.push(dependent);
      }
    }
  }
}
