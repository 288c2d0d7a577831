// "--cleanup": remove the packages that do not belong, and commit at once.
#include "app/modes.h"
#include "repo/repository.h"
#include "staging/commit.h"
#include "upgrade/cleanup.h"

int runCleanupMode(Repository& repository) {
  StagedChanges staged;
  cleanup(repository, staged);
  commitChanges(staged, false);
  return 0;
}
