#include "resolve/relation_keys.h"

void addDependencyNames(const PackageInfo& package, std::vector<std::string_view>& names) {
  for (const Relation& dependency : package.dependencies) names.push_back(dependency.name);
  for (const auto& member : package.members) addDependencyNames(*member, names);
}

void addProvidedNames(const PackageInfo& package, std::vector<std::string_view>& names) {
  names.push_back(package.name);
  for (const Relation& provision : package.provides) names.push_back(provision.name);
  for (const auto& member : package.members) addProvidedNames(*member, names);
}

void addViewNames(const PackageInfo& package, std::vector<std::string_view>& names) {
  names.push_back(package.name);
  for (const Relation& provision : package.provides) names.push_back(provision.name);
  for (const Relation& conflict : package.conflicts) names.push_back(conflict.name);
  for (const auto& member : package.members) addViewNames(*member, names);
}

void addKnownNames(const PackageInfo& package, std::vector<std::string_view>& names) {
  names.push_back(package.name);
  for (const Relation& provision : package.provides) names.push_back(provision.name);
  for (const auto& member : package.members) names.push_back(member->name);
}
