// The default run: carry out the scheduled requests, install the uploads,
// check the disk space, and commit at once or leave a manifest ("--safe").
#include "app/modes.h"
#include "console/messages.h"
#include "repo/repository.h"
#include "resolve/action_engine.h"
#include "resolve/check_candidate.h"
#include "staging/commit.h"
#include "upgrade/upgrade_driver.h"

namespace {

// Ends the run before the point of no return: nothing is committed or
// reported as installed.
int giveUp(StagedChanges& staged, std::vector<PackageInfo>& installed) {
  discardChanges(staged);
  installed.clear();
  return 28;
}

}  // namespace

int runUpgradeMode(Repository& repository, uint32_t tolerated, bool commitAtOnce) {
  StagedChanges staged;
  applyActions(repository, 1, staged);
  int result = 0;

  tolerated |= kOutcomeNewer;
  std::vector<PackageInfo> installed = runUpgrade(repository, staged, tolerated);

  // A resumed upgrade has its files on flash already; counting them again
  // would refuse the very run that finishes it.
  if ((tolerated & kOutcomeEqual) == 0 && !checkRoom(staged)) result = giveUp(staged, installed);

  // The marker is staged before the "installed" lines: when it cannot be
  // made, nothing is committed and nothing may be reported as installed.
  if (!staged.empty() && !stageChangedMarker(staged)) result = giveUp(staged, installed);

  // Everything that can fail is done before anything is reported: the
  // targets are checked (a manifest must be one a later "--commit" can
  // carry out), and a commit is taken to its point of no return.
  CommitFailure failure;
  if (!staged.empty() &&
      !(commitAtOnce ? beginCommit(staged, true, false, &failure) : checkCommit(staged, &failure))) {
    printError("upgrade failed: %s", failure.what.c_str());
    result = giveUp(staged, installed);
  }

  // In safe mode the manifest is all a later "--commit" will see. One that
  // could not be written whole is gone, and its temporaries would wait for
  // a commit that never comes: the run is given up like a short disk.
  if (!staged.empty() && !commitAtOnce && !writeManifest(staged, kManifestPath)) {
    printError("upgrade failed: could not write %s", kManifestPath);
    result = giveUp(staged, installed);
  }

  for (const PackageInfo& package : installed) printInfo("installed %s", packageLabel(package).c_str());

  if (!staged.empty() && commitAtOnce) {
    finishCommit(staged);
    runPostCommitProgram("/flash", "/bin/varn", "varn");
  }
  repository.writePostlog();
  return result;
}
