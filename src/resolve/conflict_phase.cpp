// Conflicts among active packages: of two that exclude each other, the one
// examined first keeps running.
//
// Each package looks only at the packages it shares a relation name with
// (relation_keys.h), in list order, instead of at every installed package.
// Two packages that share nothing but provisions of equal priority coexist
// (conflictsWith is false both ways), so such provisions, which many packages
// share, do not make a pair worth testing.
#include <algorithm>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "console/messages.h"
#include "model/matching.h"
#include "repo/repository.h"
#include "resolve/action_phases.h"
#include "resolve/relation_keys.h"

namespace {

// Positions of the packages providing a name, by priority.
class ProvisionIndex {
 public:
  void add(const PackageInfo& package, int position) {
    for (const Relation& provision : package.provides) {
      std::vector<int>& list = map_[provision.name][provision.priority];
      if (list.empty() || list.back() != position) list.push_back(position);
    }
  }
  // Every provider of name, or (when skip is given) those with another priority.
  void collect(std::string_view name, const int32_t* skip, std::vector<int>& out) const {
    auto it = map_.find(name);
    if (it == map_.end()) return;
    for (const auto& [priority, list] : it->second) {
      if (skip == nullptr || priority != *skip) out.insert(out.end(), list.begin(), list.end());
    }
  }

 private:
  std::unordered_map<std::string_view, std::map<int32_t, std::vector<int>>> map_;
};

// Names of A's view that are not its own provisions: its name, its
// conflicts, and the whole view of its members.
void addStrongViewNames(const PackageInfo& package, std::vector<std::string_view>& names) {
  names.push_back(package.name);
  for (const Relation& conflict : package.conflicts) names.push_back(conflict.name);
  for (const auto& member : package.members) addViewNames(*member, names);
}

// Names B is known by that are not its provisions: its name, its members'.
void addStrongKnownNames(const PackageInfo& package, std::vector<std::string_view>& names) {
  names.push_back(package.name);
  for (const auto& member : package.members) names.push_back(member->name);
}

// The packages of a list as the one side of conflictsWith.
struct Side {
  NameIndex strong;
  ProvisionIndex provisions;
};

// Positions of the packages P of side for which conflictsWith can hold with
// package on the other side. strongNames of package meet every name of P;
// its provisions meet P's strong names, and P's provisions of another priority.
void candidates(const Side& side, const std::vector<std::string_view>& strongNames, const PackageInfo& package,
                std::vector<int>& out) {
  side.strong.collect(strongNames, out);
  for (std::string_view name : strongNames) side.provisions.collect(name, nullptr, out);
  for (const Relation& provision : package.provides) {
    side.strong.collect({provision.name}, out);
    side.provisions.collect(provision.name, &provision.priority, out);
  }
}

// Active in the narrower sense the other side of a pair is tested with.
bool isActiveOther(const Package& package) {
  return package.disabled ? package.action == PendingAction::Enable : package.action == PendingAction::None;
}

}  // namespace

void settleConflicts(Repository& repository, int verbosity) {
  auto& packages = repository.packages;
  // Packages as seen by others, and as seeing others; the second side is only
  // asked about packages being enabled, so it is built only when there are.
  Side known, viewers;
  bool enabling = false;
  std::vector<std::string_view> names;
  for (int i = 0; i < static_cast<int>(packages.size()); ++i) {
    names.clear();
    addStrongKnownNames(*packages[i], names);
    known.strong.add(names, i);
    known.provisions.add(*packages[i], i);
    enabling = enabling || (isActive(*packages[i]) && packages[i]->action == PendingAction::Enable);
  }
  for (int i = 0; enabling && i < static_cast<int>(packages.size()); ++i) {
    names.clear();
    addStrongViewNames(*packages[i], names);
    viewers.strong.add(names, i);
    viewers.provisions.add(*packages[i], i);
  }
  std::vector<int> others;
  for (int x = 0; x < static_cast<int>(packages.size()); ++x) {
    Package& first = *packages[x];
    if (!isActive(first)) continue;
    others.clear();
    names.clear();
    addStrongViewNames(first, names);
    candidates(known, names, first, others);
    // Only a package being enabled yields to one that excludes it.
    if (first.action == PendingAction::Enable) {
      names.clear();
      addStrongKnownNames(first, names);
      candidates(viewers, names, first, others);
    }
    std::sort(others.begin(), others.end());
    others.erase(std::unique(others.begin(), others.end()), others.end());
    for (int y : others) {
      if (y == x) continue;
      Package& other = *packages[y];
      if (!isActiveOther(other)) continue;
      if (conflictsWith(first, other)) {
        if (other.action == PendingAction::None) other.action = PendingAction::Disable;
        continue;
      }
      if (first.action != PendingAction::Enable || !conflictsWith(other, first)) continue;
      if (other.action == PendingAction::None) {
        other.action = PendingAction::Disable;
        continue;
      }
      if (other.action == PendingAction::Enable) {
        if (verbosity != 0) {
          printWarning("can not enable %s: %s conflicts with it", first.name.c_str(), packageLabel(other).c_str());
        }
        first.action = PendingAction::None;
        break;
      }
    }
  }
}
