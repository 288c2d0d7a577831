// Lookups over the installed list for the engine's phases, indexed by name so
// that a few thousand installed packages do not make every dependency an O(n)
// scan. Answers are exactly those of the Repository's own lookups.
#pragma once
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/package.h"

class Repository;

class ProviderIndex {
 public:
  // Indexes repository.packages as they are now. REQUIRES: the list is not
  // changed (records added, removed or renamed) while the index is used;
  // pending actions and states may change freely.
  explicit ProviderIndex(const Repository& repository);

  // As Repository::findProviders.
  std::vector<Package*> providers(const Relation& relation) const;
  // The same providers as positions in the installed list.
  std::vector<int> positions(const Relation& relation) const;
  // As Repository::findInstalled.
  Package* findInstalled(const std::string& name) const;

 private:
  // Keys are views of the records' own names, which outlive the index.
  using Map = std::unordered_map<std::string_view, std::vector<int>>;
  const std::vector<int>& lookup(const Map& map, const std::string& name) const;

  const Repository& repository_;
  Map byName_;
  Map byProvision_;
  std::vector<int> none_;
};

// Provider lookups with or without an index: the public walks of the
// dependency graph use the Repository directly, the engine its index.
class ProviderSource {
 public:
  ProviderSource(const Repository& repository, const ProviderIndex* index)
      : repository_(repository), index_(index) {}
  std::vector<Package*> providers(const Relation& relation) const;
  Package* findInstalled(const std::string& name) const;

 private:
  const Repository& repository_;
  const ProviderIndex* index_;  // not owned; may be null
};
