// Carrying a staged set out, and the "--commit" and "--cancel" modes that
// finish or drop a set left waiting in the manifest.
#include "staging/commit.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "staging/atomic_writer.h"

namespace {

// Entry directories hold plain files only; anything deeper is not ours to
// remove, and then the directory stays too.
void removeDirectoryOneLevel(const std::string& dir) {
  if (DIR* d = opendir(dir.c_str())) {
    while (struct dirent* entry = readdir(d)) {
      if (entry->d_name[0] == '\0' || entry->d_name[0] == '.') continue;
      unlink((dir + "/" + entry->d_name).c_str());
    }
    closedir(d);
  }
  rmdir(dir.c_str());
}

void removeTarget(const std::string& target) {
  if (unlink(target.c_str()) == 0) return;
  if (errno != EISDIR && errno != EPERM) return;
  struct stat st;
  if (lstat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) removeDirectoryOneLevel(target);
}

void createLink(const std::string& target, const std::string& text) {
  makeDirectories(parentDirectory(target));
  unlink(target.c_str());
  if (symlink(text.c_str(), target.c_str()) != 0) std::perror("symlink");
}

void moveIntoPlace(const std::string& source, const std::string& target, bool showProgress) {
  makeDirectories(parentDirectory(target));
  if (rename(source.c_str(), target.c_str()) == 0) return;
  if (errno == EXDEV) {
    copyFile(source, target, showProgress);
    return;
  }
  std::perror("rename");
}

}  // namespace

void commitChanges(const StagedChanges& set, bool showProgress) {
  // Nothing staged, nothing to make durable: spare the whole-system sync.
  if (set.empty()) return;
  // Removals first, so that removing a directory never takes a file that
  // this same commit moves into it.
  for (const auto& [target, change] : set) {
    if (change.kind == ChangeKind::Remove) removeTarget(target);
    else if (change.kind == ChangeKind::Symlink) createLink(target, change.data);
  }
  // The temporaries' data must be on the medium before the renames make them
  // the installed files, or a power cut could leave empty files behind.
  sync();
  for (const auto& [target, change] : set) {
    if (change.kind == ChangeKind::MoveExisting || change.kind == ChangeKind::MoveTemporary)
      moveIntoPlace(change.data, target, showProgress);
  }
  sync();
}

void runCommitMode() {
  StagedChanges set;
  // A missing manifest is simply nothing to commit.
  readManifest(set, kManifestPath);
  std::fputs("finishing install... ", stdout);
  std::fflush(stdout);
  commitChanges(set, true);
  // Erase the last spinner character.
  std::fputs("\b \n", stdout);
  std::fflush(stdout);
}

void runCancelMode() {
  StagedChanges set;
  readManifest(set, kManifestPath);
  // Every entry read back is a MoveExisting, so nothing on disk is deleted:
  // the temporaries named in the manifest stay where they are.
  discardChanges(set);
  unlink(kManifestPath);
}
