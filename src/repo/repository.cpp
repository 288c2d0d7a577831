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
  progressLine.clear();
  logLines.clear();
  quiet = false;
  postlogTakenOver = false;
}

void Repository::addOwner(const Package& package) {
  for (const std::string& path : package.files) ++fileOwners[path];
}
