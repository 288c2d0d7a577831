// Ordering the candidates of a run: the indexed ordering against the literal
// one on random lists (bundles, flagged state, downgrades, quiet runs): which
// entries survive, in what order, with what warnings.
#include "resolve/ordering.h"

#include <memory>
#include <random>

#include "model/matching.h"
#include "resolve_fixture.h"

namespace {

class OrderCandidates : public ResolveTest {};

// orderCandidates as literally described: every entry against every other.
void literalOrder(std::vector<PackageInfo*>& list, Version minimum, bool verbose) {
  std::vector<PackageInfo*> kept;
  for (size_t c = 0; c < list.size(); ++c) {
    PackageInfo& cur = *list[c];
    if (minimum != kNoMinimum && cur.version < minimum) {
      printWarning("ommitting package %s: not allowed", packageLabel(cur).c_str());
      continue;
    }
    bool dropped = false;
    for (size_t i = 0; i < list.size() && !dropped; ++i) {
      PackageInfo& o = *list[i];
      if (i == c) continue;
      if (flaggedState && o.buildTime > cur.buildTime) {
        if (verbose) printWarning("ommiting older package %s: router in flagged state", packageLabel(cur).c_str());
        dropped = true;
        break;
      }
      if (!isOrContains(cur, o) && !isOrContains(o, cur)) continue;
      const int r = minimum != kNoMinimum ? -compareNewer(o, cur) : compareNewer(o, cur);
      if (r > 0 && verbose) {
        printWarning(minimum == kNoMinimum ? "omitting package %s: newer package is already provided"
                                           : "omitting package %s: older package is already provided",
                     packageLabel(cur).c_str());
      }
      dropped = r > 0 || (r == 0 && !(cur.isBundle && !o.isBundle));
    }
    if (!dropped) kept.push_back(&cur);
  }
  list.clear();
  for (PackageInfo* x : kept) {
    size_t position = 0;
    for (size_t j = list.size(); j-- > 0;) {
      if (dependsOn(*x, *list[j]) || conflictsWith(*list[j], *x)) {
        position = j + 1;
        break;
      }
    }
    list.insert(list.begin() + position, x);
  }
}

TEST_F(OrderCandidates, IndexedOrderingDecidesAsTheLiteralOne) {
  const char* names[] = {"a", "b", "c", "d", "e", "f"};
  for (unsigned seed = 1; seed <= 3000; ++seed) {
    std::mt19937 random(seed);
    auto pick = [&](int n) { return static_cast<int>(random() % n); };
    auto fill = [&](PackageInfo& info) {
      info.version = makeVersion(1 + pick(3), 0, Final, 0);
      info.buildTime = 100 + pick(3);
      for (int d = pick(3); d > 0; --d) info.dependencies.push_back(rel(names[pick(6)], pick(3) == 0 ? kV2 : 0));
      for (int p = pick(3); p > 0; --p) info.provides.push_back(rel(names[pick(6)], 0, 0, pick(3) - 1));
      if (pick(4) == 0) info.conflicts.push_back(rel(names[pick(6)]));
    };
    std::vector<std::unique_ptr<PackageInfo>> records;
    std::vector<PackageInfo*> list;
    for (int i = 2 + pick(10); i > 0; --i) {
      PackageInfo* entry = records.emplace_back(std::make_unique<PackageInfo>(names[pick(6)])).get();
      fill(*entry);
      if (pick(4) == 0) {
        entry->isBundle = true;
        for (int m = 1 + pick(2); m > 0; --m) {
          entry->members.push_back(std::make_shared<PackageInfo>(names[pick(6)]));
          fill(*entry->members.back());
        }
      }
      list.push_back(entry);
    }
    flaggedState = pick(4) == 0;
    const Version minimum = pick(3) == 0 ? kV2 : (pick(2) ? kNoMinimum : 0);
    const bool verbose = pick(2) == 0;
    std::vector<PackageInfo*> expected = list;
    repo().logLines.clear();
    literalOrder(expected, minimum, verbose);
    const Names expectedLog = log();
    repo().logLines.clear();
    orderCandidates(repo(), list, minimum, verbose);
    ASSERT_EQ(expected, list) << "seed " << seed;
    ASSERT_EQ(expectedLog, log()) << "seed " << seed;
  }
}

}  // namespace
