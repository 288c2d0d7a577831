// Reducing a list of packages to one version per related group, and putting
// each survivor after what it needs.
#include "resolve/ordering.h"

#include <algorithm>
#include <string>

#include "console/messages.h"
#include "model/matching.h"
#include "resolve/check_candidate.h"
#include "resolve/relation_keys.h"

namespace {

// Phase 1 for one entry. Only entries of a related name (isOrContains either
// way) can supersede cur by version; in flagged state the first entry built
// later supersedes it whatever its name. Looking at the related entries that
// come before that one, in list order, gives the same verdict and the same
// message as comparing cur with every entry. Entries already dropped still
// count as o, so the outcome does not depend on which was looked at first.
class Filter {
 public:
  Filter(const std::vector<PackageInfo*>& list, Version minimum, bool verbose)
      : list_(list), downgrade_(minimum != kNoMinimum), verbose_(verbose) {
    std::vector<std::string_view> names;
    for (int i = 0; i < static_cast<int>(list.size()); ++i) {
      names.assign(1, list[i]->name);
      byName_.add(names, i);
      names.clear();
      for (const auto& member : list[i]->members) names.push_back(member->name);
      byMember_.add(names, i);
      const uint32_t before = i == 0 ? 0 : latestBuild_.back();
      latestBuild_.push_back(std::max(before, list[i]->buildTime));
    }
  }

  bool isSuperseded(int current) const {
    const PackageInfo& cur = *list_[current];
    int firstLater = static_cast<int>(list_.size());
    if (flaggedState) {
      firstLater = static_cast<int>(std::upper_bound(latestBuild_.begin(), latestBuild_.end(), cur.buildTime) -
                                    latestBuild_.begin());
    }
    std::vector<std::string_view> names(1, cur.name);
    for (const auto& member : cur.members) names.push_back(member->name);
    std::vector<int> related;
    byName_.collect(names, related);
    byMember_.collect({cur.name}, related);
    std::sort(related.begin(), related.end());
    related.erase(std::unique(related.begin(), related.end()), related.end());
    for (int i : related) {
      if (i >= firstLater) break;
      if (i == current) continue;
      const PackageInfo& o = *list_[i];
      int r = compareNewer(o, cur);
      if (downgrade_) r = -r;
      if (r > 0) {
        if (verbose_) {
          printWarning(downgrade_ ? "omitting package %s: older package is already provided"
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
    if (firstLater < static_cast<int>(list_.size())) {
      // A flagged router keeps only the latest builds, whatever their names.
      if (verbose_) printWarning("ommiting older package %s: router in flagged state", packageLabel(cur).c_str());
      return true;
    }
    return false;
  }

 private:
  const std::vector<PackageInfo*>& list_;
  bool downgrade_;
  bool verbose_;
  NameIndex byName_;
  NameIndex byMember_;
  std::vector<uint32_t> latestBuild_;  // latest build time up to each position
};

// Phase 2: each entry goes right after the last placed entry it depends on or
// that displaces it; placed entries never move again. Only placed entries
// sharing a relation name with the new one are tested, latest placed first.
std::vector<PackageInfo*> insertInOrder(const std::vector<PackageInfo*>& kept) {
  const int count = static_cast<int>(kept.size());
  NameIndex provided, viewers;
  std::vector<std::string_view> names;
  for (int i = 0; i < count; ++i) {
    names.clear();
    addProvidedNames(*kept[i], names);
    provided.add(names, i);
    names.clear();
    addViewNames(*kept[i], names);
    viewers.add(names, i);
  }
  std::vector<PackageInfo*> result;
  result.reserve(count);
  std::vector<int> where(count, -1);  // position in result of each placed entry
  std::vector<int> candidates;
  for (int x = 0; x < count; ++x) {
    const PackageInfo& entry = *kept[x];
    candidates.clear();
    names.clear();
    addDependencyNames(entry, names);
    provided.collect(names, candidates);
    names.clear();
    addKnownNames(entry, names);
    viewers.collect(names, candidates);
    // Placed entries are those before x; the latest placed is tested first.
    candidates.erase(std::remove_if(candidates.begin(), candidates.end(), [x](int i) { return i >= x; }),
                     candidates.end());
    std::sort(candidates.begin(), candidates.end(), [&](int a, int b) { return where[a] > where[b]; });
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
    int position = 0;
    for (int y : candidates) {
      if (dependsOn(entry, *kept[y]) || conflictsWith(*kept[y], entry)) {
        position = where[y] + 1;
        break;
      }
    }
    for (int i = 0; i < x; ++i) {
      if (where[i] >= position) ++where[i];
    }
    where[x] = position;
    result.insert(result.begin() + position, kept[x]);
  }
  return result;
}

}  // namespace

void orderCandidates(Repository& /*repository*/, std::vector<PackageInfo*>& list, Version minimum, bool verbose) {
  const Filter filter(list, minimum, verbose);
  std::vector<PackageInfo*> kept;
  kept.reserve(list.size());
  for (size_t i = 0; i < list.size(); ++i) {
    PackageInfo* cur = list[i];
    if (minimum != kNoMinimum && cur->version < minimum) {
      printWarning("ommitting package %s: not allowed", packageLabel(*cur).c_str());
      continue;
    }
    if (!filter.isSuperseded(static_cast<int>(i))) kept.push_back(cur);
  }
  std::vector<PackageInfo*> ordered = insertInOrder(kept);
  list.swap(ordered);
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
