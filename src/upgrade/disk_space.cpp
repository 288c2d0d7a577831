// Estimating, before anything is committed, whether the staged changes fit on
// the boot file system and on flash. Only status calls; nothing is read.
#include "upgrade/disk_space.h"

#include <sys/stat.h>
#include <sys/statfs.h>

#include <string>

#include "staging/atomic_writer.h"

namespace {

// Kept back on a file system that the changes fill, for the database and the log.
constexpr int64_t kReserve = 32768;

// Counts are 64-bit: a large file system has more free blocks than fit in 32 bits.
struct DiskAccount {
  std::string path;
  int64_t blockSize = 1;
  int64_t free = 0;
  int64_t initialFree = 0;
};

DiskAccount makeAccount(const char* path) {
  DiskAccount account;
  account.path = path;
  struct statfs stats;
  if (statfs(path, &stats) == 0 && stats.f_bsize > 0) {
    account.blockSize = static_cast<int64_t>(stats.f_bsize);
    account.free = account.initialFree = static_cast<int64_t>(stats.f_bfree);
  }
  return account;
}

bool inside(const DiskAccount& account, const std::string& path) {
  const std::string prefix = account.path + "/";
  return path.compare(0, prefix.size(), prefix) == 0;
}

int64_t blocks(const DiskAccount& account, int64_t size) {
  return (size + account.blockSize - 1) / account.blockSize;
}

// The file at target goes away or is replaced, so its blocks come back.
void addBack(DiskAccount& account, const std::string& target) {
  struct stat status;
  if (inside(account, target) && stat(target.c_str(), &status) == 0) {
    account.free += blocks(account, status.st_size);
  }
}

void consume(DiskAccount& account, const std::string& source, const std::string& target) {
  if (!inside(account, target)) return;
  struct stat sourceStatus;
  if (stat(source.c_str(), &sourceStatus) != 0) {
    addBack(account, target);
    return;
  }
  // A rename within one file system costs nothing; the first existing
  // ancestor of the target tells which file system it lands on.
  std::string directory = parentDirectory(target);
  struct stat directoryStatus;
  bool foundDirectory = true;
  while (stat(directory.c_str(), &directoryStatus) != 0) {
    if (directory == "/" || directory == ".") {
      foundDirectory = false;
      break;
    }
    directory = parentDirectory(directory);
  }
  if (foundDirectory && directoryStatus.st_dev == sourceStatus.st_dev) return;
  account.free -= blocks(account, sourceStatus.st_size);
  addBack(account, target);
}

int64_t margin(const DiskAccount& account) {
  int64_t bytes = account.free * account.blockSize;
  if (account.free < account.initialFree) bytes -= kReserve;
  return bytes;
}

}  // namespace

bool checkDiskSpace(const StagedChanges& staged, int64_t* bootMargin, int64_t* flashMargin) {
  DiskAccount accounts[2] = {makeAccount("/flash/boot"), makeAccount("/flash")};
  for (const auto& [target, change] : staged) {
    for (DiskAccount& account : accounts) {
      switch (change.kind) {
        case ChangeKind::Remove:
          addBack(account, target);
          break;
        case ChangeKind::MoveExisting:
        case ChangeKind::MoveTemporary:
          consume(account, change.data, target);
          break;
        case ChangeKind::Symlink:
          break;
      }
    }
  }
  *bootMargin = margin(accounts[0]);
  *flashMargin = margin(accounts[1]);
  return *bootMargin >= 0 && *flashMargin >= 0;
}
