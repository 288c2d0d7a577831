#include "model/matching.h"

bool satisfies(const PackageInfo& p, const Relation& r) {
  return sameName(p, r) && p.version >= r.minVersion &&
         (r.maxVersion == 0 || p.version <= r.maxVersion);
}

bool providesMatch(const PackageInfo& p, const Relation& r) {
  for (const Relation& provision : p.provides) {
    if (!sameName(provision, r)) continue;
    // Both bounds present and apart: the ranges cannot overlap.
    if (provision.minVersion != 0 && r.maxVersion != 0 && provision.minVersion > r.maxVersion) continue;
    if (provision.maxVersion == 0 || provision.maxVersion >= r.minVersion) return true;
  }
  return false;
}

bool isOrContains(const PackageInfo& p, const PackageInfo& other) {
  if (sameName(p, other)) return true;
  for (const auto& member : p.members) {
    if (sameName(*member, other)) return true;
  }
  return false;
}

bool dependsOn(const PackageInfo& a, const PackageInfo& b) {
  for (const Relation& dependency : a.dependencies) {
    if (satisfies(b, dependency) || providesMatch(b, dependency)) return true;
  }
  for (const auto& member : b.members) {
    if (dependsOn(a, *member)) return true;
  }
  for (const auto& member : a.members) {
    if (dependsOn(*member, b)) return true;
  }
  return false;
}

bool conflictsWith(const PackageInfo& a, const PackageInfo& b) {
  if (isPlaceholder(a) || isPlaceholder(b)) return false;
  for (const Relation& conflict : a.conflicts) {
    if (satisfies(b, conflict)) return true;
  }
  // Provisions displace: the first provision that names the other side decides.
  for (const Relation& theirs : b.provides) {
    if (sameName(a, theirs)) return theirs.priority < 0;
  }
  for (const Relation& ours : a.provides) {
    if (sameName(ours, b)) return ours.priority >= 0;
    for (const Relation& theirs : b.provides) {
      if (sameName(ours, theirs)) return ours.priority > theirs.priority;
    }
  }
  for (const Relation& conflict : a.conflicts) {
    if (providesMatch(b, conflict)) return true;
  }
  for (const auto& member : b.members) {
    if (sameName(*member, a)) return true;
  }
  for (const auto& member : a.members) {
    if (conflictsWith(*member, b)) return true;
  }
  return false;
}

int compareNewer(const PackageInfo& a, const PackageInfo& b) {
  const PackageInfo* left = &a;
  const PackageInfo* right = &b;
  int sign = 1;
  // Each step descends into a member, so the walk ends with the member lists.
  for (;;) {
    if (sameName(*left, *right)) {
      if (left->version != right->version) return left->version > right->version ? sign : -sign;
      if (left->buildTime != right->buildTime) return left->buildTime > right->buildTime ? sign : -sign;
      return 0;
    }
    const PackageInfo* next = nullptr;
    for (const auto& member : left->members) {
      if (sameName(*member, *right)) {
        next = member.get();
        break;
      }
    }
    if (next != nullptr) {
      left = next;
      continue;
    }
    for (const auto& member : right->members) {
      if (sameName(*member, *left)) {
        next = member.get();
        break;
      }
    }
    if (next == nullptr) return 0;
    sign = -sign;
    right = left;
    left = next;
  }
}
