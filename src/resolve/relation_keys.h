// The names through which two packages can be related at all. dependsOn and
// conflictsWith (model/matching.h) only ever hold between packages that share
// one of these names, so indexing them lets the resolver test the few pairs
// that can match instead of every pair.
#pragma once
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/package.h"

// Names A's dependencies look for (its members' too): dependsOn(A, B) needs
// one of them among B's providedNames.
void addDependencyNames(const PackageInfo& package, std::vector<std::string_view>& names);
// The package's own name, its provisions, and those of its members.
void addProvidedNames(const PackageInfo& package, std::vector<std::string_view>& names);
// Names A's view looks at in conflictsWith(A, B): its name, provisions and
// conflicts, and its members' view names. One of them must be among B's knownNames.
void addViewNames(const PackageInfo& package, std::vector<std::string_view>& names);
// Names B is seen by in conflictsWith(A, B): its name, provisions, member names.
void addKnownNames(const PackageInfo& package, std::vector<std::string_view>& names);

// Positions by name. Positions are added in ascending order. The names are
// views of the records' own fields, which outlive the index.
class NameIndex {
 public:
  void add(const std::vector<std::string_view>& names, int position) {
    for (std::string_view name : names) {
      std::vector<int>& list = map_[name];
      if (list.empty() || list.back() != position) list.push_back(position);
    }
  }
  // Appends the positions of every name; the caller sorts out duplicates.
  void collect(const std::vector<std::string_view>& names, std::vector<int>& out) const {
    for (std::string_view name : names) {
      auto it = map_.find(name);
      if (it != map_.end()) out.insert(out.end(), it->second.begin(), it->second.end());
    }
  }

 private:
  std::unordered_map<std::string_view, std::vector<int>> map_;
};
