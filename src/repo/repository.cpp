// The single process-wide repository. Loading is in loader.cpp, the lookups
// in lookups.cpp, the listing in listing.cpp.
#include "repo/repository.h"

Repository& Repository::instance() {
  static Repository* repository = new Repository();  // never destroyed
  return *repository;
}

void Repository::reset() {
  architecture.clear();
  packages.clear();
  fileOwners.clear();
  fileOwnersBuilt = false;
  progressLine.clear();
  logLines.clear();
  quiet = false;
  postlogTakenOver = false;
}

std::unordered_map<std::string, uint32_t>& Repository::owners() {
  if (!fileOwnersBuilt) {
    for (const auto& package : packages) {
      for (const std::string& path : package->files) ++fileOwners[path];
    }
    fileOwnersBuilt = true;
  }
  return fileOwners;
}

void Repository::addOwner(const Package& package) {
  if (!fileOwnersBuilt) return;  // counted when the index is built
  for (const std::string& path : package.files) ++fileOwners[path];
}
