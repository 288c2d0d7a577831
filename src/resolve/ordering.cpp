// Reducing a list of packages to one version per related group, and putting
// each survivor after what it needs.
#include "resolve/ordering.h"

#include "console/messages.h"
#include "model/matching.h"
#include "resolve/check_candidate.h"

namespace {

// Whether another entry of the list supersedes cur. Entries already dropped
// still count as o, so the outcome does not depend on which was looked at first.
bool isSuperseded(const std::vector<PackageInfo*>& list, size_t current, Version minimum, bool verbose) {
  const PackageInfo& cur = *list[current];
  const bool downgrade = minimum != kNoMinimum;
  for (size_t i = 0; i < list.size(); ++i) {
    if (i == current) continue;
    const PackageInfo& o = *list[i];
    if (flaggedState && o.buildTime > cur.buildTime) {
      // A flagged router keeps only the latest builds, whatever their names.
      if (verbose) printWarning("ommiting older package %s: router in flagged state", packageLabel(cur).c_str());
      return true;
    }
    if (!isOrContains(cur, o) && !isOrContains(o, cur)) continue;
    int r = compareNewer(o, cur);
    if (downgrade) r = -r;
    if (r > 0) {
      if (verbose) {
        printWarning(downgrade ? "omitting package %s: older package is already provided"
                               : "omitting package %s: newer package is already provided",
                     packageLabel(cur).c_str());
      }
      return true;
    }
    if (r < 0) continue;
    // A bundle wins over a separate file of one of its members at the same version.
    if (cur.isBundle && !o.isBundle) continue;
    return true;
  }
  return false;
}

}  // namespace

void orderCandidates(Repository& /*repository*/, std::vector<PackageInfo*>& list, Version minimum, bool verbose) {
  std::vector<PackageInfo*> kept;
  kept.reserve(list.size());
  for (size_t i = 0; i < list.size(); ++i) {
    PackageInfo* cur = list[i];
    if (minimum != kNoMinimum && cur->version < minimum) {
      printWarning("ommitting package %s: not allowed", packageLabel(*cur).c_str());
      continue;
    }
    if (!isSuperseded(list, i, minimum, verbose)) kept.push_back(cur);
  }

  // Insertion: each entry goes right after the last placed entry it depends
  // on or that displaces it; placed entries never move again.
  std::vector<PackageInfo*> result;
  result.reserve(kept.size());
  for (PackageInfo* x : kept) {
    size_t position = 0;
    for (size_t j = result.size(); j-- > 0;) {
      if (dependsOn(*x, *result[j]) || conflictsWith(*result[j], *x)) {
        position = j + 1;
        break;
      }
    }
    result.insert(result.begin() + position, x);
  }
  list.swap(result);
}

int dependencyStatus(const std::vector<Package*>& providers) {
  bool disabledSeen = false;
  for (const Package* provider : providers) {
    if (provider->disabled) {
      if (provider->action == PendingAction::Enable) return 0;
      disabledSeen = true;
    } else if (provider->action == PendingAction::None || provider->action == PendingAction::Enable) {
      // An enabled provider asked to be enabled again stays enabled: counting
      // it as gone would uninstall everything that needs it.
      return 0;
    } else if (provider->action == PendingAction::Disable) {
      disabledSeen = true;
    }
  }
  return disabledSeen ? 3 : 1;
}
