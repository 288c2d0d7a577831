// What the installing runs share at their end: the disk-space verdict and
// the changed-packages marker, both before anything is committed.
#include <cerrno>
#include <cstring>

#include "app/modes.h"
#include "console/messages.h"
#include "staging/atomic_writer.h"
#include "upgrade/disk_space.h"

namespace {

// -margin bytes short, in whole kB rounded up past the next boundary.
int shortfallKilobytes(int64_t margin) {
  return static_cast<int>(-margin / 1024 + 1);
}

}  // namespace

bool checkRoom(const StagedChanges& staged) {
  int64_t bootMargin = 0;
  int64_t flashMargin = 0;
  if (checkDiskSpace(staged, &bootMargin, &flashMargin)) return true;
  if (bootMargin < 0) {
    printError("upgrade failed, free %d kB disk space for a %supgrade", shortfallKilobytes(bootMargin), "kernel ");
  }
  if (flashMargin < 0) {
    printError("upgrade failed, free %d kB disk space for a %supgrade", shortfallKilobytes(flashMargin), "");
  }
  return false;
}

// The changed-packages marker: an empty file whose existence tells the
// system that the package set changed. It is staged with the run's other
// changes, so it appears exactly when they are committed.
bool stageChangedMarker(StagedChanges& staged) {
  AtomicFile marker;
  if (!openAtomic(marker, staged, kChangedMarker, 1, 0)) {
    // A flash without room for even an empty file (its inodes used up)
    // would take the rest of the changes without the marker, and the system
    // would never learn of them; so the run commits nothing and says why.
    const int error = errno;
    printError("upgrade failed: could not create %s: %s", kChangedMarker, std::strerror(error));
    return false;
  }
  marker.close();  // nothing is written: only its existence counts
  return true;
}
