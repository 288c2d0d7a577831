// Placeholder until the database loader is built.
#include "repo/repository.h"

Repository& Repository::instance() {
  static Repository* repository = new Repository();  // never destroyed
  return *repository;
}

void Repository::reset() {
  architecture.clear();
  packages.clear();
  progressLine.clear();
  logLines.clear();
  quiet = false;
  postlogTakenOver = false;
}

void Repository::open(const std::string& architectureName, bool quietMode) {
  architecture = architectureName;
  quiet = quietMode;
}
