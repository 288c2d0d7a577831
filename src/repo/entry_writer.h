// Writing database entries back, all through staged changes.
#pragma once
#include <string>
#include <vector>

#include "model/package.h"
#include "staging/staged_changes.h"

class Repository;

// False after a reported failure.
bool writeEntry(const Package& package, StagedChanges& staged);
bool writeRelationFile(StagedChanges& staged, const std::string& path,
                       const std::vector<Relation>& list, bool withPriority);
void recordEnabled(Repository& repository, const std::vector<Package*>& list,
                   StagedChanges& staged, bool verbose);
// Writes "disabled" ("user"/"auto") through the atomic writer; the engine's
// disabling step and writeEntry share it.
void writeDisabledFile(const Package& package, StagedChanges& staged);
