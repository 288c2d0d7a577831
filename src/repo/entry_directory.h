// Where a package's database entry and schedule file live.
#pragma once
#include <string>
#include <vector>

#include "model/package.h"

// "/flash/var/pdb/" + name + "/".
std::string entryDirectory(const PackageInfo& package);
// A name that can own an entry directory: not empty, ".", "..", and no "/".
// Nothing is ever written, staged or removed for any other name.
bool hasValidEntryName(const std::string& name);
// "/ram/pdb/" + the name with every byte but [A-Za-z0-9-] removed + "/schedule".
std::string scheduleFilePath(const std::string& name);
bool readRelationFile(const std::string& path, std::vector<Relation>& list, bool withPriority);
