// Carrying a staged set out, and letting it wait in a manifest between runs.
//
// A commit has a point of no return. Before it, everything that can fail is
// done: every target is checked to be creatable, every move across file
// systems becomes a copy on the target's own file system, the data is synced,
// and a durable record of the set is written to flash. After it, only
// removals, links and renames within a file system remain, and a run cut off
// among them is finished from the record by the next run.
#pragma once
#include <string>

#include "staging/staged_changes.h"

inline constexpr const char* kManifestPath = "/ram/MANIFEST";

// Why a set cannot be committed, in words for a message: "could not create
// /flash/bin/x: Not a directory".
struct CommitFailure {
  std::string what;
};

// Whether every target of the set can be made: each component fits a file
// name, no file stands (or will stand) where a folder is needed, no folder
// where a file goes, every source exists, and the file systems have inodes
// for the folders and links to be made. Changes nothing.
bool checkCommit(const StagedChanges& set, CommitFailure* failure);
// Everything up to the point of no return. On false nothing on flash has
// changed; the set's temporaries (copies included) are the caller's to
// discard. runPostCommit is kept in the record for a run that finishes it.
bool beginCommit(StagedChanges& set, bool runPostCommit, bool showProgress, CommitFailure* failure);
// Carries out a begun set (or one read back from its record) and removes the
// record. Repeatable: what an earlier try did already is passed over.
void finishCommit(const StagedChanges& set);
// beginCommit, then finishCommit.
bool commitChanges(StagedChanges& set, bool showProgress, CommitFailure* failure);

// Finishes the commit an interrupted run left in its record. True when there
// was one; *runPostCommit tells whether that run was to start the
// post-commit program. A record that was never written whole is deleted.
bool finishInterruptedCommit(bool* runPostCommit);

// Written through a temporary and a rename, so a run cut off while writing
// leaves the old manifest or none, never half a set. False when it could not
// be written whole.
bool writeManifest(const StagedChanges& set, const std::string& path);
bool readManifest(StagedChanges& set, const std::string& path);
// Copies source into a fresh temporary in folder (used when a move crosses
// file systems). False with errno set and nothing left behind.
bool copyToTemporary(const std::string& source, const std::string& folder, bool showProgress, std::string* copy);
