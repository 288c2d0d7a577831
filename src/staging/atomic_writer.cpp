// The atomic writer: new content goes to a fresh temporary whose move onto
// the real path is staged, so a reader of the path sees the old file or the
// whole new one. Temporaries live in the program's own folder on the target's
// file system (a rename away from their target), or on the RAM disk.
#include "staging/atomic_writer.h"

#include <libgen.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "staging/temporary_files.h"

namespace {

// Room that must stay free on a file system after the file is written.
constexpr uint64_t kSpareBytes = 65536;

// A folder's facts: one statfs (and one stat, for the device) the first time
// the run asks. A file system's free space is read once; 64-bit on purpose:
// free blocks times block size wraps in 32 bits on any file system over 4 GiB.
FolderFacts& factsOf(StagedChanges& set, const std::string& folder) {
  auto known = set.folders.find(folder);
  if (known != set.folders.end()) return known->second;
  FolderFacts& facts = set.folders[folder];
  struct statfs fs;
  struct stat status;
  if (statfs(folder.c_str(), &fs) == 0 && stat(folder.c_str(), &status) == 0) {
    facts.exists = true;
    facts.device = static_cast<uint64_t>(status.st_dev);
    set.freeBytes.emplace(facts.device, static_cast<uint64_t>(fs.f_bfree) * static_cast<uint64_t>(fs.f_bsize));
  }
  return facts;
}

// Whether the folder's file system has room for sizeHint bytes and the
// spare; if so, the bytes are counted as used from now on, so the rule only
// grows more cautious as the run writes.
bool takeRoom(StagedChanges& set, const FolderFacts& facts, uint32_t sizeHint) {
  uint64_t& free = set.freeBytes[facts.device];
  if (static_cast<uint64_t>(sizeHint) + kSpareBytes >= free) return false;
  free -= sizeHint;
  return true;
}

// The RAM disk takes a temporary only under the same room rule as flash:
// on a router it is memory. Empty when it has no room.
std::string ramFolder(StagedChanges& set, uint32_t sizeHint) {
  const FolderFacts& ram = factsOf(set, "/ram");
  if (ram.exists && !takeRoom(set, ram, sizeHint)) return "";
  return kRamTemporaries;
}

// Only the nearest ancestor that exists is judged: a package directory that
// is not made yet lives on its parent's file system. A file system without
// room sends the temporary to the RAM disk. Empty when neither has room.
std::string temporaryFolder(StagedChanges& set, const std::string& target, uint32_t sizeHint) {
  if (sizeHint == 0) return factsOf(set, "/ram").exists ? kRamTemporaries : kTmpTemporaries;
  std::string dir = parentDirectory(target);
  for (;;) {
    FolderFacts& facts = factsOf(set, dir);
    if (facts.exists) {
      if (!takeRoom(set, facts, sizeHint)) return ramFolder(set, sizeHint);
      if (facts.temporaries.empty()) facts.temporaries = temporaryFolderOn(dir);
      return facts.temporaries;
    }
    if (dir == "/" || dir == ".") return ramFolder(set, sizeHint);
    dir = parentDirectory(dir);
  }
}

}  // namespace

bool openAtomic(AtomicFile& out, StagedChanges& set, const std::string& target, uint32_t sizeHint,
                uint32_t mode) {
  out.close();
  out.clear();

  std::string temporary;
  const std::string folder = temporaryFolder(set, target, sizeHint);
  if (folder.empty()) errno = ENOSPC;  // no room anywhere: "disk is too small"
  int fd = folder.empty() ? -1 : createTemporary(folder, &temporary);
  if (fd < 0) {
    // Staging a temporary that was never made would move a file nobody wrote.
    out.setstate(std::ios::failbit);
    return false;
  }
  if (mode != 0) fchmod(fd, mode & 07777);

  stageChange(set, target, ChangeKind::MoveTemporary, temporary);
  out.attach(fd, &set, target, temporary);
  return true;
}

std::string parentDirectory(const std::string& path) {
  size_t end = path.size();
  while (end > 0 && path[end - 1] == '/') --end;
  std::vector<char> buffer(path.begin(), path.begin() + end);
  buffer.push_back('\0');
  return dirname(buffer.data());
}

void makeDirectories(const std::string& path) {
  if (mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) return;
  std::string parent = parentDirectory(path);
  if (parent == path) return;
  makeDirectories(parent);
  mkdir(path.c_str(), 0777);
}
