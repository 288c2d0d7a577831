// The rules by which relations match packages. All pure.
#pragma once
#include "model/package.h"

template <typename A, typename B>
bool sameName(const A& a, const B& b) {
  return a.name == b.name;
}

bool satisfies(const PackageInfo& p, const Relation& r);
bool providesMatch(const PackageInfo& p, const Relation& r);
bool isOrContains(const PackageInfo& p, const PackageInfo& other);
bool dependsOn(const PackageInfo& a, const PackageInfo& b);
// A's view of B; not symmetric.
bool conflictsWith(const PackageInfo& a, const PackageInfo& b);
// > 0 when a is newer than b, < 0 when older, 0 when equal or unrelated.
int compareNewer(const PackageInfo& a, const PackageInfo& b);
