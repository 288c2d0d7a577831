// Manifest reading: the input is "/ram/MANIFEST" as a crashed or tampered
// safe-mode run could leave it. What is read back is written out again and
// must read back the same.
#include <cstdint>

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
  // Targets and sources read from a manifest hold no newline and, except
  // for the last field, no space, so the set survives a second round.
  writeManifest(set, "/ram/MANIFEST.again");
  StagedChanges again;
  readManifest(again, "/ram/MANIFEST.again");
  if (again.size() != set.size()) __builtin_trap();
  // A read-back set names no temporaries of its own: discarding it deletes nothing.
  discardChanges(set);
  discardChanges(again);
  return 0;
}
