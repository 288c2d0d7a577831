// Carrying a staged set out, and letting it wait in a manifest between runs.
#pragma once
#include <string>

#include "staging/staged_changes.h"

inline constexpr const char* kManifestPath = "/ram/MANIFEST";

// False when the manifest could not be written whole; the partial file is
// then removed, so that a later "--commit" never carries out part of a set.
bool writeManifest(const StagedChanges& set, const std::string& path);
bool readManifest(StagedChanges& set, const std::string& path);
void commitChanges(const StagedChanges& set, bool showProgress);
// Copies across file systems through a temporary beside the target; the target
// is replaced only by a complete copy. Returns whether it was.
bool copyFile(const std::string& source, const std::string& target, bool showProgress);

// The "--commit" and "--cancel" modes, run before any change of root.
void runCommitMode();
void runCancelMode();
