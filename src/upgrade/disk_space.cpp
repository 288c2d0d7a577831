// Estimating, before anything is committed, whether the staged changes fit on
// the boot file system and on flash. Only status calls; nothing is read.
#include "upgrade/disk_space.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statfs.h>

#include <map>
#include <set>
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

// What the estimate looks at, each looked at once: a folder's device and the
// names it holds (so that a new file costs no status call), and each file's
// size and device.
class Probe {
 public:
  struct File {
    bool exists = false;
    int64_t size = 0;
    dev_t device = 0;
  };

  // The status of an existing file at path, by one listing of its folder
  // and a status call only for a name that is there.
  File existing(const std::string& path) {
    const std::string folder = parentDirectory(path);
    const std::string name = path.substr(path.rfind('/') + 1);
    auto listed = listings_.find(folder);
    if (listed == listings_.end()) listed = listings_.emplace(folder, list(folder)).first;
    if (!listed->second.count(name)) return File();
    return look(path);
  }

  // The source of a move: a temporary of the run knows its size, and its
  // folder's device; anything else is looked at.
  File source(const StagedChange& change) {
    if (change.kind != ChangeKind::MoveTemporary || change.size == kUnknownSize) return look(change.data);
    File file = folder(parentDirectory(change.data));
    file.size = static_cast<int64_t>(change.size);
    return file;
  }

  // The device of the nearest folder above path that exists.
  bool landing(const std::string& path, dev_t* device) {
    std::string directory = parentDirectory(path);
    for (;;) {
      const File& seen = folder(directory);
      if (seen.exists) {
        *device = seen.device;
        return true;
      }
      if (directory == "/" || directory == ".") return false;
      directory = parentDirectory(directory);
    }
  }

 private:
  static File look(const std::string& path) {
    File file;
    struct stat status;
    if (stat(path.c_str(), &status) != 0) return file;
    file.exists = true;
    file.size = static_cast<int64_t>(status.st_size);
    file.device = status.st_dev;
    return file;
  }

  const File& folder(const std::string& path) {
    auto known = folders_.find(path);
    if (known != folders_.end()) return known->second;
    return folders_[path] = look(path);
  }

  // The names a folder holds (links and all); one that cannot be listed
  // holds none.
  static std::set<std::string> list(const std::string& folder) {
    std::set<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
      while (const dirent* entry = readdir(d)) names.insert(entry->d_name);
      closedir(d);
    }
    return names;
  }

  std::map<std::string, File> folders_;
  std::map<std::string, std::set<std::string>> listings_;
};

// The file at target goes away or is replaced, so its blocks come back.
void addBack(DiskAccount& account, Probe& probe, const std::string& target) {
  if (!inside(account, target)) return;
  const Probe::File file = probe.existing(target);
  if (file.exists) account.free += blocks(account, file.size);
}

void consume(DiskAccount& account, Probe& probe, const StagedChange& change, const std::string& target) {
  if (!inside(account, target)) return;
  const Probe::File source = probe.source(change);
  if (!source.exists) {
    addBack(account, probe, target);
    return;
  }
  // A rename within one file system costs nothing; the first existing
  // ancestor of the target tells which file system it lands on.
  dev_t device = 0;
  if (probe.landing(target, &device) && device == source.device) return;
  account.free -= blocks(account, source.size);
  addBack(account, probe, target);
}

int64_t margin(const DiskAccount& account) {
  int64_t bytes = account.free * account.blockSize;
  if (account.free < account.initialFree) bytes -= kReserve;
  return bytes;
}

}  // namespace

bool checkDiskSpace(const StagedChanges& staged, int64_t* bootMargin, int64_t* flashMargin) {
  DiskAccount accounts[2] = {makeAccount("/flash/boot"), makeAccount("/flash")};
  Probe probe;
  for (const auto& [target, change] : staged) {
    for (DiskAccount& account : accounts) {
      switch (change.kind) {
        case ChangeKind::Remove:
          addBack(account, probe, target);
          break;
        case ChangeKind::MoveExisting:
        case ChangeKind::MoveTemporary:
          consume(account, probe, change, target);
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
