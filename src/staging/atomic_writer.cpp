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

// 64-bit on purpose: free blocks times block size wraps in 32 bits on any
// file system over 4 GiB, which would then look full (or empty) at random.
bool hasRoom(const struct statfs& fs, uint32_t sizeHint) {
  uint64_t freeBytes = static_cast<uint64_t>(fs.f_bfree) * static_cast<uint64_t>(fs.f_bsize);
  return static_cast<uint64_t>(sizeHint) + kSpareBytes < freeBytes;
}

// The temporaries' folder on dir's file system, looked up once per folder.
const std::string& folderOn(StagedChanges& set, const std::string& dir) {
  auto known = set.temporaryFolders.find(dir);
  if (known != set.temporaryFolders.end()) return known->second;
  return set.temporaryFolders[dir] = temporaryFolderOn(dir);
}

// The RAM disk takes a temporary only under the same room rule as flash:
// on a router it is memory. Empty when it has no room.
std::string ramFolder(uint32_t sizeHint) {
  struct statfs fs;
  if (statfs("/ram", &fs) == 0 && !hasRoom(fs, sizeHint)) return "";
  return kRamTemporaries;
}

// Only the nearest ancestor that exists is judged: a package directory that
// is not made yet lives on its parent's file system. A file system without
// room sends the temporary to the RAM disk. Empty when neither has room.
std::string temporaryFolder(StagedChanges& set, const std::string& target, uint32_t sizeHint) {
  if (sizeHint == 0) {
    struct stat st;
    return stat("/ram", &st) == 0 ? kRamTemporaries : kTmpTemporaries;
  }
  std::string dir = parentDirectory(target);
  for (;;) {
    struct statfs fs;
    if (statfs(dir.c_str(), &fs) == 0) return hasRoom(fs, sizeHint) ? folderOn(set, dir) : ramFolder(sizeHint);
    if (dir == "/" || dir == ".") return ramFolder(sizeHint);
    dir = parentDirectory(dir);
  }
}

}  // namespace

bool openAtomic(std::ofstream& out, StagedChanges& set, const std::string& target, uint32_t sizeHint,
                uint32_t mode) {
  if (out.is_open()) out.close();
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
  close(fd);
  if (mode != 0) chmod(temporary.c_str(), mode & 07777);

  stageChange(set, target, ChangeKind::MoveTemporary, temporary);
  out.open(temporary, std::ios::out | std::ios::binary | std::ios::trunc);
  return out.is_open();
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
