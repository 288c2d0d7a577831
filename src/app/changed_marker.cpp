// The changed-packages marker: an empty file whose existence tells the
// system that the package set changed. It is staged with the run's other
// changes, so it appears exactly when they are committed.
#include <cerrno>
#include <cstring>
#include <fstream>

#include "app/modes.h"
#include "console/messages.h"
#include "staging/atomic_writer.h"

bool stageChangedMarker(StagedChanges& staged) {
  std::ofstream marker;
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
