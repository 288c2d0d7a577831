// Installing what one package stream holds: a single package or a bundle.
#pragma once
#include <cstdint>
#include <streambuf>
#include <string>

#include "install/install_package.h"
#include "install/stream_check.h"
#include "staging/staged_changes.h"

class Repository;

// 0 installed; 1 package not installed / bundle header unusable; 2 bundle
// refused or a member failed; 3 bundle without members. source is not owned.
// checked holds the signatures of the stream as checkStream found them; when
// null, the stream is checked first and then read again from its start (it
// must be able to seek). directoryOut and bootImageOut may be null.
int installFromStream(Repository& repository, StagedChanges& staged, std::streambuf* source,
                      uint32_t tolerated, const ChoicesMap& choices, const StreamCheck* checked,
                      std::string* directoryOut, bool* bootImageOut);
