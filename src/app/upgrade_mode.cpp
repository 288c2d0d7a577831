// The default run: carry out the scheduled requests, install the uploads,
// check the disk space, and commit at once or leave a manifest ("--safe").
#include "app/modes.h"
#include "console/messages.h"
#include "repo/repository.h"
#include "resolve/action_engine.h"
#include "resolve/check_candidate.h"
#include "staging/commit.h"
#include "upgrade/disk_space.h"
#include "upgrade/upgrade_driver.h"

namespace {

// -margin bytes short, in whole kB rounded up past the next boundary.
int shortfallKilobytes(int64_t margin) {
  return static_cast<int>(-margin / 1024 + 1);
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
  if ((tolerated & kOutcomeEqual) == 0) {
    int64_t bootMargin = 0;
    int64_t flashMargin = 0;
    if (!checkDiskSpace(staged, &bootMargin, &flashMargin)) {
      if (bootMargin < 0) {
        printError("upgrade failed, free %d kB disk space for a %supgrade", shortfallKilobytes(bootMargin),
                   "kernel ");
      }
      if (flashMargin < 0) {
        printError("upgrade failed, free %d kB disk space for a %supgrade", shortfallKilobytes(flashMargin), "");
      }
      discardChanges(staged);
      installed.clear();
      result = 28;
    }
  }

  // The marker is staged before the "installed" lines: when it cannot be
  // made, nothing is committed and nothing may be reported as installed.
  if (!staged.empty() && !stageChangedMarker(staged)) {
    discardChanges(staged);
    installed.clear();
    result = 28;
  }

  // In safe mode the manifest is all a later "--commit" will see. One that
  // could not be written whole is gone, and its temporaries would wait for
  // a commit that never comes: the run is given up like a short disk.
  if (!staged.empty() && !commitAtOnce && !writeManifest(staged, kManifestPath)) {
    printError("upgrade failed: could not write %s", kManifestPath);
    discardChanges(staged);
    installed.clear();
    result = 28;
  }

  for (const PackageInfo& package : installed) printInfo("installed %s", packageLabel(package).c_str());

  if (!staged.empty() && commitAtOnce) {
    commitChanges(staged, false);
    runPostCommitProgram("/flash", "/bin/varn", "varn");
  }
  repository.writePostlog();
  return result;
}
