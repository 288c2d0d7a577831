// Conflicts among active packages: of two that exclude each other, the one
// examined first keeps running.
//
// conflictsWith(A, B) can only hold when a name A looks at (its own, its
// provisions, its conflicts, and those of its members) is a name B is known
// by (its own, its provisions, its members'). Indexing those names lets each
// package look only at the few packages it could conflict with, in list
// order, instead of at every installed package.
#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "console/messages.h"
#include "model/matching.h"
#include "repo/repository.h"
#include "resolve/action_phases.h"

namespace {

using NameIndex = std::unordered_map<std::string, std::vector<int>>;

void addOnce(NameIndex& index, const std::string& name, int position) {
  std::vector<int>& list = index[name];
  if (list.empty() || list.back() != position) list.push_back(position);
}

// Names A's view of another package looks at.
void addViewNames(NameIndex& index, const PackageInfo& package, int position) {
  addOnce(index, package.name, position);
  for (const Relation& provision : package.provides) addOnce(index, provision.name, position);
  for (const Relation& conflict : package.conflicts) addOnce(index, conflict.name, position);
  for (const auto& member : package.members) addViewNames(index, *member, position);
}

// Names by which a package is seen.
void addKnownNames(NameIndex& index, const PackageInfo& package, int position) {
  addOnce(index, package.name, position);
  for (const Relation& provision : package.provides) addOnce(index, provision.name, position);
  for (const auto& member : package.members) addOnce(index, member->name, position);
}

void collect(const NameIndex& index, const std::string& name, std::vector<int>& out) {
  auto it = index.find(name);
  if (it != index.end()) out.insert(out.end(), it->second.begin(), it->second.end());
}

void collectSeenBy(const NameIndex& known, const PackageInfo& package, std::vector<int>& out) {
  collect(known, package.name, out);
  for (const Relation& provision : package.provides) collect(known, provision.name, out);
  for (const Relation& conflict : package.conflicts) collect(known, conflict.name, out);
  for (const auto& member : package.members) collectSeenBy(known, *member, out);
}

void collectSeeing(const NameIndex& viewers, const PackageInfo& package, std::vector<int>& out) {
  collect(viewers, package.name, out);
  for (const Relation& provision : package.provides) collect(viewers, provision.name, out);
  for (const auto& member : package.members) collect(viewers, member->name, out);
}

// Active in the narrower sense the other side of a pair is tested with.
bool isActiveOther(const Package& package) {
  return package.disabled ? package.action == PendingAction::Enable : package.action == PendingAction::None;
}

}  // namespace

void settleConflicts(Repository& repository, int verbosity) {
  auto& packages = repository.packages;
  NameIndex known, viewers;
  for (int i = 0; i < static_cast<int>(packages.size()); ++i) {
    addKnownNames(known, *packages[i], i);
    addViewNames(viewers, *packages[i], i);
  }
  std::vector<int> others;
  for (int x = 0; x < static_cast<int>(packages.size()); ++x) {
    Package& first = *packages[x];
    if (!isActive(first)) continue;
    others.clear();
    collectSeenBy(known, first, others);
    // Only a package being enabled yields to one that excludes it.
    if (first.action == PendingAction::Enable) collectSeeing(viewers, first, others);
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
