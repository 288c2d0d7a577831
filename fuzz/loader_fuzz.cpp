// Database loading over a scratch database made from the input: entry files,
// stored images, images in the images directory and schedule files of three
// packages, as a damaged or tampered flash could hold them. The loaded set
// then goes through the listing and the action engine (whose changes are
// staged and discarded).
//
// Input: records of [slot byte][u16 little-endian length][content]; the slot
// picks the package and the file.
#include <cstdint>
#include <string>

#include "fuzz_root.h"
#include "resolve/action_engine.h"

namespace {

const char* const kNames[] = {"a", "b", "sys_tem.x"};
const char* const kScheduleNames[] = {"a", "b", "systemx"};  // letters, digits and "-" only
const char* const kEntryFiles[] = {"version", "deps", "provides", "conflicts", "bundle",
                                   "files",   "disabled", "enabled", "image"};
constexpr int kEntryFileCount = sizeof kEntryFiles / sizeof kEntryFiles[0];
constexpr int kSlotsPerName = kEntryFileCount + 2;  // + images directory, schedule

std::string slotPath(int slot) {
  const int which = (slot / kSlotsPerName) % 3;
  const int file = slot % kSlotsPerName;
  const std::string name = kNames[which];
  if (file < kEntryFileCount) return std::string(kDatabaseDirectory) + name + "/" + kEntryFiles[file];
  if (file == kEntryFileCount) return std::string(kImagesDirectory) + name;
  return std::string("/ram/pdb/") + kScheduleNames[which] + "/schedule";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzroot::enter();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzroot::clearTree("/flash/var/pdb");
  fuzzroot::clearTree("/rw/pckg/.images");
  fuzzroot::clearTree("/ram/pdb");
  size_t at = 0;
  while (at + 3 <= size) {
    const int slot = data[at];
    size_t length = data[at + 1] | (data[at + 2] << 8);
    at += 3;
    if (length > size - at) length = size - at;
    const std::string path = slotPath(slot);
    fuzzroot::makeDirectory(path.substr(0, path.rfind('/')));
    fuzzroot::writeFile(path, data + at, length);
    at += length;
  }

  Repository& repository = Repository::instance();
  repository.reset();
  repository.open("i386", true);
  repository.printListing();
  StagedChanges staged;
  applyActions(repository, 0, staged);
  // Nothing reaches flash from here: only staged temporaries exist, and they go.
  discardChanges(staged);
  repository.reset();
  repository.quiet = true;
  return 0;
}
