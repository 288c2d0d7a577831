// Installing what one package stream holds: a single package or a bundle.
#pragma once
#include <cstdint>
#include <streambuf>
#include <string>

#include "install/install_package.h"
#include "staging/staged_changes.h"

class Repository;

// 0 installed; 1 package not installed / bundle header unusable; 2 bundle
// refused or a member failed; 3 bundle without members. source and copySink
// are not owned; copySink, directoryOut and bootImageOut may be null.
int installFromStream(Repository& repository, StagedChanges& staged, std::streambuf* source,
                      uint32_t tolerated, const ChoicesMap& choices, std::streambuf* copySink,
                      std::string* directoryOut, bool* bootImageOut);
