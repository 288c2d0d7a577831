// Keeping what an enabled package needs: cancelled uninstalls and disables,
// added enables, followed through to the providers' own needs.
#include "resolve/dependency_walk.h"

#include <vector>

#include "console/messages.h"
#include "repo/repository.h"
#include "resolve/ordering.h"

namespace {

// Makes provider usable for dependent. True when its action changed, so that
// its own dependencies are to be kept next.
bool takeProvider(Package& provider, const Package& dependent, int verbosity) {
  if (provider.action == PendingAction::Uninstall || provider.action == PendingAction::Disable) {
    if (verbosity != 0) {
      printWarning("can not %s %s: %s depends on it", actionName(provider.action), packageLabel(provider).c_str(),
                   dependent.name.c_str());
    }
    provider.action = PendingAction::None;
    return true;
  }
  if (provider.disabled) {
    provider.action = PendingAction::Enable;
    return true;
  }
  return false;
}

// One package whose dependencies are being kept; next is -1 for its bundle,
// then the index of the next dependency.
struct Frame {
  Package* package;
  int next;
};

// A dependency chain can be thousands of packages deep, so the recursion of
// keep -> require -> keep runs on an explicit stack in the same order.
void walk(Repository& repository, Package& start, int verbosity, const ProviderSource& source) {
  std::vector<Frame> stack{{&start, -1}};
  while (!stack.empty()) {
    Frame& frame = stack.back();
    Package& package = *frame.package;
    if (frame.next == -1) {
      frame.next = 0;
      if (package.bundle.name.empty()) continue;
      Package* bundle = source.findInstalled(package.bundle.name);
      if (bundle != nullptr && takeProvider(*bundle, package, verbosity)) stack.push_back({bundle, -1});
      continue;
    }
    if (frame.next >= static_cast<int>(package.dependencies.size())) {
      stack.pop_back();
      continue;
    }
    const Relation& dependency = package.dependencies[frame.next++];
    std::vector<Package*> providers = source.providers(dependency);
    if (dependencyStatus(providers) == 0) continue;
    if (providers.empty()) {
      // Nothing can satisfy it; the rest of this package's needs are not followed.
      stack.pop_back();
      continue;
    }
    std::vector<PackageInfo*> candidates(providers.begin(), providers.end());
    orderCandidates(repository, candidates, kNoMinimum, false);
    // Providers that drop each other (equal records) leave nobody to choose.
    if (candidates.empty()) continue;
    Package* chosen = static_cast<Package*>(candidates.back());
    if (takeProvider(*chosen, package, verbosity)) stack.push_back({chosen, -1});
  }
}

}  // namespace

void keepDependencies(Repository& repository, Package& package, int verbosity, const ProviderSource& source) {
  walk(repository, package, verbosity, source);
}

void requireProvider(Repository& repository, Package& provider, const Package& dependent, int verbosity,
                     const ProviderSource& source) {
  if (takeProvider(provider, dependent, verbosity)) walk(repository, provider, verbosity, source);
}

void keepDependencies(Repository& repository, Package& package, int verbosity) {
  keepDependencies(repository, package, verbosity, ProviderSource(repository, nullptr));
}

void requireProvider(Repository& repository, Package& provider, const Package& dependent, int verbosity) {
  requireProvider(repository, provider, dependent, verbosity, ProviderSource(repository, nullptr));
}
