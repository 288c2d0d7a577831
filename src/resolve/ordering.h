// Ordering candidates and walking dependencies.
#pragma once
#include <vector>

#include "model/package.h"

class Repository;

inline constexpr Version kNoMinimum = 0xFFFFFFFFu;

// Keeps one version per related group and puts each survivor after what it
// depends on. The records are not owned by the list.
void orderCandidates(Repository& repository, std::vector<PackageInfo*>& list, Version minimum, bool verbose);
// 0 satisfied, 1 no usable provider, 3 only disabled providers.
int dependencyStatus(const std::vector<Package*>& providers);
void keepDependencies(Repository& repository, Package& package, int verbosity);
void requireProvider(Repository& repository, Package& provider, const Package& dependent, int verbosity);
