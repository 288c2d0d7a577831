#include "resolve/provider_index.h"

#include "model/matching.h"
#include "repo/repository.h"

ProviderIndex::ProviderIndex(const Repository& repository) : repository_(repository) {
  const auto& packages = repository.packages;
  for (int i = 0; i < static_cast<int>(packages.size()); ++i) {
    const Package& package = *packages[i];
    byName_[package.name].push_back(i);
    for (const Relation& provision : package.provides) {
      std::vector<int>& list = byProvision_[provision.name];
      // A package listing one name twice is still one provider.
      if (list.empty() || list.back() != i) list.push_back(i);
    }
  }
}

const std::vector<int>& ProviderIndex::lookup(const Map& map, const std::string& name) const {
  auto it = map.find(name);
  return it == map.end() ? none_ : it->second;
}

Package* ProviderIndex::findInstalled(const std::string& name) const {
  const std::vector<int>& list = lookup(byName_, name);
  return list.empty() ? nullptr : repository_.packages[list.front()].get();
}

// satisfies() needs the relation's name and providesMatch() a provision of
// that name, so the two index lists hold every possible provider; merging
// them keeps list order.
std::vector<Package*> ProviderIndex::providers(const Relation& relation) const {
  std::vector<Package*> result;
  for (int position : positions(relation)) result.push_back(repository_.packages[position].get());
  return result;
}

std::vector<int> ProviderIndex::positions(const Relation& relation) const {
  const std::vector<int>& named = lookup(byName_, relation.name);
  const std::vector<int>& providing = lookup(byProvision_, relation.name);
  std::vector<int> result;
  size_t a = 0, b = 0;
  while (a < named.size() || b < providing.size()) {
    int next;
    if (b == providing.size() || (a < named.size() && named[a] <= providing[b])) {
      next = named[a];
      if (b < providing.size() && providing[b] == next) ++b;
      ++a;
    } else {
      next = providing[b++];
    }
    const Package& package = *repository_.packages[next];
    if (isPlaceholder(package)) continue;
    if (satisfies(package, relation) || providesMatch(package, relation)) result.push_back(next);
  }
  return result;
}

std::vector<Package*> ProviderSource::providers(const Relation& relation) const {
  return index_ != nullptr ? index_->providers(relation) : repository_.findProviders(relation);
}

Package* ProviderSource::findInstalled(const std::string& name) const {
  return index_ != nullptr ? index_->findInstalled(name) : repository_.findInstalled(name);
}
