// "--cleanup": remove the packages that do not belong, and commit at once.
#include "app/modes.h"
#include "console/messages.h"
#include "repo/repository.h"
#include "staging/commit.h"
#include "upgrade/cleanup.h"

int runCleanupMode(Repository& repository) {
  StagedChanges staged;
  cleanup(repository, staged);
  CommitFailure failure;
  if (!commitChanges(staged, false, &failure)) {
    discardChanges(staged);
    printError("cleanup failed: %s", failure.what.c_str());
  }
  return 0;
}
