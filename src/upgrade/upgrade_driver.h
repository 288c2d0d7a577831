// The default run: install the uploaded package files in order.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/package.h"
#include "staging/staged_changes.h"

class Repository;

struct PackageCandidate : PackageInfo {
  std::string path;  // directory path + file name, as found
  // False for a file of the unrecorded magic: a package without a database
  // entry, whose upload therefore never becomes a stored image.
  bool recorded = true;
};

void scanPackageDirectory(const std::string& directory, std::vector<std::unique_ptr<PackageCandidate>>& candidates);
// The records of the installed package files, in installation order; empty
// after a failure, with the staged changes already discarded.
std::vector<PackageInfo> runUpgrade(Repository& repository, StagedChanges& staged, uint32_t tolerated);
