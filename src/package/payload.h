// The file payload: one zlib stream of file entries, unpacked into staged
// temporaries under "/flash".
#pragma once
#include "model/package.h"
#include "package/package_reader.h"
#include "staging/staged_changes.h"

// REQUIRES: the reader stands on the type-4 part. False after a reported failure.
bool unpackFiles(Package& package, StagedChanges& staged, PackageReader& reader);
