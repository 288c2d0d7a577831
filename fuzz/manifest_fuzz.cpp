// Manifest reading: the input is "/ram/MANIFEST" as a crashed or tampered
// safe-mode run could leave it. What is read back is written out again and
// must read back the same.
#include <unistd.h>

#include <cstdint>
#include <string>

#include "fuzz_root.h"
#include "staging/commit.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzroot::enter();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!fuzzroot::writeFile(kManifestPath, data, size)) return 0;
  StagedChanges set;
  readManifest(set, kManifestPath);
  // Targets and sources read from a manifest hold no newline and targets no
  // space, so the set survives a second round. The one line the writer
  // refuses is a move whose source holds a space (only a tampered manifest
  // has one): then nothing is written and nothing is left behind.
  if (!writeManifest(set, "/ram/MANIFEST.again")) {
    bool refusable = false;
    for (const auto& [target, change] : set)
      refusable |= change.kind != ChangeKind::Symlink && change.data.find(' ') != std::string::npos;
    if (!refusable || access("/ram/MANIFEST.again", F_OK) == 0) __builtin_trap();
    discardChanges(set);
    return 0;
  }
  StagedChanges again;
  readManifest(again, "/ram/MANIFEST.again");
  if (again.size() != set.size()) __builtin_trap();
  // A read-back set names no temporaries of its own: discarding it deletes nothing.
  discardChanges(set);
  discardChanges(again);
  return 0;
}
