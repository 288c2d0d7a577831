// Installing the one package that starts at the reader's current part.
#pragma once
#include <cstdint>
#include <map>
#include <string>

#include "model/package.h"
#include "package/package_reader.h"
#include "staging/staged_changes.h"

class Repository;

// Package name -> disabled, the user's explicit choices.
using ChoicesMap = std::map<std::string, bool>;

// Returns the new record (owned by the repository) when installed, the
// installed record when passed over as equal, or null. bundle, directoryOut
// and bootImageOut may be null. checkedDigest: the digest an earlier pass
// over the same stream found this package's signature good for (every
// signature of the stream good); null, and nothing of the payload is
// unpacked and the package is refused as broken.
Package* installPackage(Repository& repository, StagedChanges& staged, PackageReader& reader,
                        uint32_t tolerated, const ChoicesMap& choices, const Relation* bundle,
                        std::string* directoryOut, bool* bootImageOut, const uint8_t* checkedDigest);

// Whether the package's name and every name in its relations can be kept in
// the database: not empty, ".", "..", and free of "/", whitespace and control
// bytes; the package's own name also neither begins with "." nor is "image".
// Packages failing this are refused as broken.
bool hasUsablePackageNames(const PackageInfo& package);
// The error line for an entry path held by something other than a folder.
void reportEntryInTheWay(const Package& package);
