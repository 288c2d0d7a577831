// Carrying a staged set out: checks and copies before the point of no
// return, then removals, links and renames, repeatable from the record.
#include "staging/commit.h"

#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "staging/atomic_writer.h"
#include "staging/commit_record.h"
#include "staging/temporary_files.h"

namespace {

bool isMove(const StagedChange& change) {
  return change.kind == ChangeKind::MoveExisting || change.kind == ChangeKind::MoveTemporary;
}

bool fail(CommitFailure* failure, const char* verb, const std::string& path, int error) {
  failure->what = std::string("could not ") + verb + " " + path + ": " + std::strerror(error);
  return false;
}

// A change other than a removal will put a file (or link) at path.
bool willHoldFile(const StagedChanges& set, const std::string& path) {
  auto it = set.find(path);
  return it != set.end() && it->second.kind != ChangeKind::Remove;
}

bool willBeRemoved(const StagedChanges& set, const std::string& path) {
  for (const std::string& key : {path, path + "/"}) {
    auto it = set.find(key);
    if (it != set.end() && it->second.kind == ChangeKind::Remove) return true;
  }
  return false;
}

// The folders above path, from the top: "/flash", "/flash/bin" for "/flash/bin/x".
std::vector<std::string> foldersAbove(const std::string& path) {
  std::vector<std::string> folders;
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    if (path[slash - 1] != '/') folders.push_back(path.substr(0, slash));
  }
  return folders;
}

bool componentsFit(const std::string& path) {
  if (path.size() >= PATH_MAX) return false;
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end - start > NAME_MAX) return false;
    start = end + 1;
  }
  return true;
}

enum class Found { Nothing, Folder, Other };

struct Seen {
  Found found = Found::Nothing;
  dev_t device = 0;
};

// What stands at each path before the commit, looked up once: most targets
// share their folders. What stands at the targets themselves comes from one
// listing of each folder, not from a status call per file.
class PathProbe {
 public:
  const Seen& at(const std::string& path) {
    auto known = cache_.find(path);
    if (known != cache_.end()) return known->second;
    return cache_[path] = look(path);
  }

  // REQUIRES: folder exists as a folder.
  Found child(const std::string& folder, const std::string& name) {
    auto listed = listings_.find(folder);
    if (listed == listings_.end()) listed = listings_.emplace(folder, list(folder)).first;
    auto it = listed->second.find(name);
    return it == listed->second.end() ? Found::Nothing : it->second;
  }

 private:
  static Seen look(const std::string& path) {
    Seen seen;
    struct stat status;
    if (lstat(path.c_str(), &status) != 0) return seen;
    // A link to a folder serves as one; any other link does not.
    if (S_ISLNK(status.st_mode) && stat(path.c_str(), &status) != 0) status.st_mode = 0;
    seen.found = S_ISDIR(status.st_mode) ? Found::Folder : Found::Other;
    seen.device = status.st_dev;
    return seen;
  }

  static std::map<std::string, Found> list(const std::string& folder) {
    std::map<std::string, Found> names;
    if (DIR* d = opendir(folder.c_str())) {
      while (const dirent* entry = readdir(d)) {
        Found found = entry->d_type == DT_DIR ? Found::Folder : Found::Other;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) found = look(folder + "/" + entry->d_name).found;
        names.emplace(entry->d_name, found);
      }
      closedir(d);
    }
    return names;
  }

  std::map<std::string, Seen> cache_;
  std::map<std::string, std::map<std::string, Found>> listings_;
};

// The deepest folder above target that exists now: the one whose file
// system the target lands on.
std::string existingFolderAbove(PathProbe& probe, const std::string& target) {
  std::string existing = "/";
  for (const std::string& folder : foldersAbove(target)) {
    if (probe.at(folder).found != Found::Folder) break;
    existing = folder;
  }
  return existing;
}

// Folders and links to be made need inodes; a file system that counts its
// inodes must have them, or the commit would stop half-way.
struct InodeNeed {
  uint64_t count = 0;
  std::string first;  // the first path that needs one, for the message
};

bool haveInodes(const std::map<std::string, InodeNeed>& needed, CommitFailure* failure) {
  std::map<dev_t, InodeNeed> wanted;
  std::map<dev_t, std::string> folder;
  for (const auto& [existing, need] : needed) {
    struct stat status;
    if (stat(existing.c_str(), &status) != 0) continue;
    InodeNeed& total = wanted[status.st_dev];
    if (total.count == 0) total.first = need.first;
    total.count += need.count;
    folder.emplace(status.st_dev, existing);
  }
  for (const auto& [device, need] : wanted) {
    struct statfs fs;
    if (statfs(folder[device].c_str(), &fs) != 0 || fs.f_files == 0) continue;
    if (static_cast<uint64_t>(fs.f_ffree) < need.count) return fail(failure, "create", need.first, ENOSPC);
  }
  return true;
}

// Entry folders hold plain files only; anything deeper is not ours to remove,
// and then the folder stays too. A file that this commit puts into the folder
// is kept: when the commit is finished a second time, after a kill, it is
// already in place.
void removeFolderOneLevel(const std::string& folder, const StagedChanges& set) {
  std::string base = folder;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  if (DIR* d = opendir(base.c_str())) {
    while (struct dirent* entry = readdir(d)) {
      if (entry->d_name[0] == '\0' || entry->d_name[0] == '.') continue;
      const std::string path = base + "/" + entry->d_name;
      if (!willHoldFile(set, path)) unlink(path.c_str());
    }
    closedir(d);
  }
  rmdir(base.c_str());
}

void removeTarget(const std::string& target, const StagedChanges& set) {
  if (unlink(target.c_str()) == 0) return;
  if (errno != EISDIR && errno != EPERM) return;
  struct stat st;
  if (lstat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) removeFolderOneLevel(target, set);
}

void createLink(const std::string& target, const std::string& text) {
  makeDirectories(parentDirectory(target));
  unlink(target.c_str());
  if (symlink(text.c_str(), target.c_str()) != 0) std::perror("symlink");
}

// The folders are made only when the rename says they are missing. A source
// that is gone was moved by an earlier try of the same commit.
void moveIntoPlace(const std::string& source, const std::string& target) {
  if (rename(source.c_str(), target.c_str()) == 0) return;
  if (errno == ENOENT) {
    struct stat st;
    if (lstat(source.c_str(), &st) != 0) return;
    makeDirectories(parentDirectory(target));
    if (rename(source.c_str(), target.c_str()) == 0) return;
  }
  std::perror("rename");
}

}  // namespace

namespace {

bool check(const StagedChanges& set, PathProbe& probe, CommitFailure* failure) {
  std::map<std::string, InodeNeed> inodesNeeded;  // deepest existing folder -> new folders and links below it
  auto needInode = [&](const std::string& existing, const std::string& path) {
    InodeNeed& need = inodesNeeded[existing];
    if (need.count++ == 0) need.first = path;
  };
  std::set<std::string> newFolders;
  for (const auto& [target, change] : set) {
    if (change.kind == ChangeKind::Remove) continue;
    if (!componentsFit(target)) return fail(failure, "create", target, ENAMETOOLONG);
    std::string existing = "/";
    bool below = true;  // every folder so far exists as a folder
    for (const std::string& folder : foldersAbove(target)) {
      if (willHoldFile(set, folder)) return fail(failure, "create", target, ENOTDIR);
      if (below) {
        const Found found = probe.at(folder).found;
        if (found == Found::Folder) {
          existing = folder;
          continue;
        }
        // A file in the way is fine only when this commit removes it first.
        if (found == Found::Other && !willBeRemoved(set, folder)) return fail(failure, "create", target, ENOTDIR);
        below = false;
      }
      if (newFolders.insert(folder).second) needInode(existing, folder);
    }
    const Found there = below ? probe.child(existing, target.substr(target.rfind('/') + 1)) : Found::Nothing;
    if (there == Found::Folder) return fail(failure, "create", target, EISDIR);
    if (change.kind == ChangeKind::Symlink && there == Found::Nothing) needInode(existing, target);
    // A temporary of this run exists; another file is looked at.
    struct stat st;
    if (change.kind == ChangeKind::MoveExisting && lstat(change.data.c_str(), &st) != 0) {
      return fail(failure, "move", change.data, errno);
    }
  }
  return haveInodes(inodesNeeded, failure);
}

}  // namespace

bool checkCommit(const StagedChanges& set, CommitFailure* failure) {
  PathProbe probe;
  return check(set, probe, failure);
}

bool beginCommit(StagedChanges& set, bool runPostCommit, bool showProgress, CommitFailure* failure) {
  if (set.empty()) return true;
  PathProbe probe;
  if (!check(set, probe, failure)) return false;
  // The commit itself must not copy: a copy can fail half-way. A move that
  // would cross file systems is copied now, onto the target's own.
  for (auto& [target, change] : set) {
    if (!isMove(change)) continue;
    const std::string existing = existingFolderAbove(probe, target);
    dev_t source = 0;
    if (change.kind == ChangeKind::MoveTemporary) {
      source = probe.at(parentDirectory(change.data)).device;
    } else {
      struct stat status;
      if (stat(change.data.c_str(), &status) != 0) return fail(failure, "create", target, errno);
      source = status.st_dev;
    }
    if (source == probe.at(existing).device) continue;
    std::string copy;
    if (!copyToTemporary(change.data, temporaryFolderOn(existing), showProgress, &copy)) {
      return fail(failure, "create", target, errno);
    }
    if (change.kind == ChangeKind::MoveTemporary) unlink(change.data.c_str());
    change = StagedChange{ChangeKind::MoveTemporary, copy};
  }
  // The temporaries' data must be on the medium before the record makes
  // the commit certain, or a power cut could leave empty files behind.
  sync();
  if (!writeCommitRecord(set, runPostCommit)) return fail(failure, "create", kCommitRecordPath, errno);
  return true;
}

void finishCommit(const StagedChanges& set) {
  // Nothing staged, nothing to make durable: spare the whole-system sync.
  if (set.empty()) return;
  // Removals first, so that removing a folder never takes a file that this
  // same commit moves into it.
  for (const auto& [target, change] : set) {
    if (change.kind == ChangeKind::Remove) removeTarget(target, set);
    else if (change.kind == ChangeKind::Symlink) createLink(target, change.data);
  }
  for (const auto& [target, change] : set) {
    if (isMove(change)) moveIntoPlace(change.data, target);
  }
  sync();
  removeCommitRecord();
}

bool commitChanges(StagedChanges& set, bool showProgress, CommitFailure* failure) {
  if (!beginCommit(set, false, showProgress, failure)) return false;
  finishCommit(set);
  return true;
}

bool finishInterruptedCommit(bool* runPostCommit) {
  StagedChanges set;
  *runPostCommit = false;
  if (!readCommitRecord(&set, runPostCommit)) {
    // Cut short while it was written: the run never passed its point of no
    // return, and nothing of its set was carried out.
    removeCommitRecord();
    return false;
  }
  finishCommit(set);
  return true;
}
