// Lookups over the installed packages, always in list order: many tie-breaks
// depend on which record comes first.
#include "model/matching.h"
#include "repo/repository.h"

int Repository::indexOfInstalled(const std::string& name) const {
  for (size_t i = 0; i < packages.size(); ++i) {
    if (packages[i]->name == name) return static_cast<int>(i);
  }
  return -1;
}

Package* Repository::findInstalled(const std::string& name) const {
  int index = indexOfInstalled(name);
  return index < 0 ? nullptr : packages[index].get();
}

std::vector<Package*> Repository::findProviders(const Relation& relation) const {
  std::vector<Package*> providers;
  for (const std::unique_ptr<Package>& package : packages) {
    if (isPlaceholder(*package)) continue;
    if (satisfies(*package, relation) || providesMatch(*package, relation)) providers.push_back(package.get());
  }
  return providers;
}

Package* Repository::findConflicting(const PackageInfo& package) const {
  for (const std::unique_ptr<Package>& installed : packages) {
    if (!installed->disabled && conflictsWith(*installed, package)) return installed.get();
  }
  return nullptr;
}
