// "--commit" and "--cancel": finish or drop a set that a "--safe" run left
// waiting in the manifest. Both run before any change of root.
#include <unistd.h>

#include <cstdio>

#include "app/modes.h"
#include "console/messages.h"
#include "staging/commit.h"
#include "staging/temporary_files.h"

namespace {

// The manifest's moves whose sources are temporaries of the safe run.
void deleteTemporariesOf(const StagedChanges& set) {
  for (const auto& [target, change] : set) {
    if (change.kind == ChangeKind::MoveExisting && isTemporaryPath(change.data)) unlink(change.data.c_str());
  }
}

}  // namespace

void runCommitMode() {
  StagedChanges set;
  // A missing manifest is simply nothing to commit.
  readManifest(set, kManifestPath);
  const StagedChanges waiting = set;
  std::fputs("finishing install... ", stdout);
  std::fflush(stdout);
  CommitFailure failure;
  const bool committed = commitChanges(set, true, &failure);
  // Erase the last spinner character.
  std::fputs("\b \n", stdout);
  std::fflush(stdout);
  if (!committed) {
    // Nothing changed; only the copies made for the commit go.
    discardChanges(set);
    printError("commit failed: %s", failure.what.c_str());
    return;
  }
  // Temporaries on the RAM disk were copied onto flash; the copies moved.
  deleteTemporariesOf(waiting);
}

void runCancelMode() {
  StagedChanges set;
  readManifest(set, kManifestPath);
  // The safe run's temporaries go with its manifest; uploads the manifest
  // names (moves of package files into the database) are not ours.
  deleteTemporariesOf(set);
  unlink(kManifestPath);
}
