// The start of every run that may change flash: what an interrupted run left
// behind is settled before the database is loaded.
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "app/modes.h"
#include "console/messages.h"
#include "staging/commit.h"
#include "staging/temporary_files.h"

void settleInterruptedRun() {
  bool runPostCommit = false;
  if (finishInterruptedCommit(&runPostCommit)) {
    printInfo("finished the changes of an interrupted run");
    if (runPostCommit) runPostCommitProgram("/flash", "/bin/varn", "varn");
  }
  // Temporaries of a run that never reached its point of no return, except
  // those a "--safe" run left for a later "--commit".
  StagedChanges waiting;
  readManifest(waiting, kManifestPath);
  std::set<std::string> keep;
  for (const auto& [target, change] : waiting) keep.insert(change.data);
  deleteTemporaries(keep);
  // The image copy of an "installer -" that was cut off.
  struct stat status;
  if (lstat(kImageCopyPath, &status) == 0 && S_ISREG(status.st_mode)) unlink(kImageCopyPath);
}
