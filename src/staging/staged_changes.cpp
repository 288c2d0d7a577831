// The staging rules: one change per target path, and the set owns the
// temporaries of its MoveTemporary entries until they are committed.
#include "staging/staged_changes.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "model/package.h"

namespace {

// The same rule as the database uses for entry names: anything else could
// make the entry path climb out of "/flash/var/pdb/" or name the database itself.
bool isUsableEntryName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

void deleteTemporary(const StagedChange& change) {
  if (change.kind == ChangeKind::MoveTemporary) unlink(change.data.c_str());
}

}  // namespace

void stageChange(StagedChanges& set, const std::string& target, ChangeKind kind, const std::string& data) {
  auto it = set.find(target);
  if (it == set.end()) {
    set.emplace(target, StagedChange{kind, data});
    return;
  }
  // A temporary that is no longer staged would otherwise stay on the RAM
  // disk until the next reboot.
  deleteTemporary(it->second);
  it->second = StagedChange{kind, data};
}

void stageMove(StagedChanges& set, const std::string& source, const std::string& target) {
  stageChange(set, target, ChangeKind::MoveExisting, source);
}

void stageSymlink(StagedChanges& set, const std::string& linkText, const std::string& target) {
  stageChange(set, target, ChangeKind::Symlink, linkText);
}

namespace {

void stageRemovalIf(StagedChanges& set, const std::string& path, bool folders) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    if (folders || !S_ISDIR(st.st_mode)) stageChange(set, path, ChangeKind::Remove, "");
    return;
  }
  // Nothing to remove on disk: only an earlier decision about the path is
  // taken back. A temporary taken back with it belongs to nobody any more;
  // left where openAtomic put it (often the database directory itself) it
  // would load as a ghost package on the next run, so it goes too.
  auto it = set.find(path);
  if (it == set.end()) return;
  deleteTemporary(it->second);
  set.erase(it);
}

}  // namespace

void stageRemoval(StagedChanges& set, const std::string& path) { stageRemovalIf(set, path, true); }

void stageFileRemoval(StagedChanges& set, const std::string& path) { stageRemovalIf(set, path, false); }

void dropChangesBelow(StagedChanges& set, const std::string& folder) {
  for (auto it = set.upper_bound(folder); it != set.end() && it->first.starts_with(folder);) {
    deleteTemporary(it->second);
    it = set.erase(it);
  }
}

void discardChanges(StagedChanges& set) {
  for (const auto& [target, change] : set) deleteTemporary(change);
  set.clear();
}

bool prepareEntryDirectory(const Package& package, StagedChanges& set) {
  if (!isUsableEntryName(package.name)) return false;
  const std::string dir = kDatabaseDirectory + package.name + "/";
  auto it = set.find(dir);
  if (it != set.end()) {
    // An uninstall followed by a reinstall of the same name reuses the
    // directory; any other staged change at the entry path is a clash.
    if (it->second.kind != ChangeKind::Remove) return false;
    set.erase(it);
  }
  // With its trailing "/" the path fails with ENOTDIR when something other
  // than a directory sits there; the entry files could never be moved into
  // it, so the installation is refused before anything is written.
  struct stat st;
  if (stat(dir.c_str(), &st) != 0) return errno != ENOTDIR;
  return S_ISDIR(st.st_mode);
}
