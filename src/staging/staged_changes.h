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

struct StagedChange {
  ChangeKind kind;
  std::string data;
};

// The changes by target path, plus what the run learnt about where its
// temporaries go.
struct StagedChanges : std::map<std::string, StagedChange> {
  std::map<std::string, std::string> temporaryFolders;  // existing folder -> the temporaries' folder there
};

void stageChange(StagedChanges& set, const std::string& target, ChangeKind kind, const std::string& data);
void stageMove(StagedChanges& set, const std::string& source, const std::string& target);
void stageSymlink(StagedChanges& set, const std::string& linkText, const std::string& target);
void stageRemoval(StagedChanges& set, const std::string& path);
// As stageRemoval, but a folder at path is left alone: an installed file's
// path never empties a folder.
void stageFileRemoval(StagedChanges& set, const std::string& path);
// Deletes the temporaries of MoveTemporary entries, then empties the set.
void discardChanges(StagedChanges& set);
// Cancels a staged removal of the package's entry directory; false when the
// entry path has another staged change or exists and is not a directory.
bool prepareEntryDirectory(const Package& package, StagedChanges& set);
