// The set of changes a run decides on, keyed by target path (byte order).
// Nothing on flash changes until the set is committed.
#pragma once
#include <cstdint>
#include <map>
#include <string>

struct Package;

enum class ChangeKind : int32_t {
  MoveExisting = 0,   // data: path of an existing file (not owned)
  MoveTemporary = 1,  // data: temporary made by openAtomic (owned by the set)
  Symlink = 3,        // data: link text
  Remove = 4,         // data: empty
};

inline constexpr uint64_t kUnknownSize = ~uint64_t{0};

struct StagedChange {
  ChangeKind kind;
  std::string data;
  uint64_t size = kUnknownSize;  // bytes of a temporary, once its writer closed it
};

// What the atomic writer learnt of a folder in this run: each folder and each
// file system is looked at once.
struct FolderFacts {
  bool exists = false;
  uint64_t device = 0;
  std::string temporaries;  // the temporaries' folder on its file system, once known
};

// The changes by target path, plus what the run learnt while staging them.
struct StagedChanges : std::map<std::string, StagedChange> {
  std::map<std::string, FolderFacts> folders;
  // Free bytes per device as the room rule counts them: read once, then
  // lowered by every temporary the run puts there.
  std::map<uint64_t, uint64_t> freeBytes;
};

void stageChange(StagedChanges& set, const std::string& target, ChangeKind kind, const std::string& data);
void stageMove(StagedChanges& set, const std::string& source, const std::string& target);
void stageSymlink(StagedChanges& set, const std::string& linkText, const std::string& target);
void stageRemoval(StagedChanges& set, const std::string& path);
// As stageRemoval, but a folder at path is left alone: an installed file's
// path never empties a folder.
void stageFileRemoval(StagedChanges& set, const std::string& path);
// Takes back every change staged below folder (a path ending in "/") and
// deletes their temporaries: an uninstalled entry takes with it the state
// files staged for it earlier in the run, which the commit would otherwise
// move in after removing its folder, leaving a stray entry.
void dropChangesBelow(StagedChanges& set, const std::string& folder);
// Deletes the temporaries of MoveTemporary entries, then empties the set.
void discardChanges(StagedChanges& set);
// Cancels a staged removal of the package's entry directory; false when the
// entry path has another staged change or exists and is not a directory.
bool prepareEntryDirectory(const Package& package, StagedChanges& set);
