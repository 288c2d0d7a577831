// Ordering the candidates of a run: which entries survive and in what order,
// on small lists, then the indexed ordering against the literal one.
#include "resolve/ordering.h"

#include <memory>
#include <random>

#include "model/matching.h"
#include "resolve_fixture.h"

namespace {

class OrderCandidates : public ResolveTest {
 protected:
  PackageInfo* make(const std::string& name, Version version = kV1, uint32_t buildTime = 100) {
    records_.push_back(std::make_unique<PackageInfo>(name));
    records_.back()->version = version;
    records_.back()->buildTime = buildTime;
    return records_.back().get();
  }
  Names order(std::vector<PackageInfo*> list, Version minimum = kNoMinimum, bool verbose = true) {
    orderCandidates(repo(), list, minimum, verbose);
    Names result;
    for (const PackageInfo* entry : list) result.push_back(packageLabel(*entry));
    return result;
  }
  std::vector<std::unique_ptr<PackageInfo>> records_;
};

TEST_F(OrderCandidates, PutsEachEntryAfterWhatItDependsOnOrWhatDisplacesIt) {
  PackageInfo* a = make("a");
  PackageInfo* b = make("b");
  PackageInfo* c = make("c");
  EXPECT_EQ((Names{"c-1.0", "b-1.0", "a-1.0"}), order({a, b, c}));  // unrelated: reversed
  a->dependencies = {rel("b")};
  EXPECT_EQ((Names{"b-1.0", "a-1.0"}), order({a, b}));
  EXPECT_EQ((Names{"b-1.0", "a-1.0"}), order({b, a}));
  a->dependencies = {rel("b"), rel("c")};  // after the last placed entry it needs
  EXPECT_EQ((Names{"c-1.0", "b-1.0", "a-1.0"}), order({b, c, a}));
  a->dependencies.clear();
  b->provides = {rel("a")};  // b displaces a
  EXPECT_EQ((Names{"b-1.0", "a-1.0"}), order({a, b}));
  EXPECT_TRUE(log().empty());
}

TEST_F(OrderCandidates, KeepsTheNewestOrInADowngradeTheOldestAllowed) {
  PackageInfo* two = make("a", kV2);
  PackageInfo* one = make("a", kV1);
  EXPECT_EQ((Names{"a-2.0"}), order({one, two}));
  EXPECT_EQ((Names{"a-2.0"}), order({one, two}, kNoMinimum, false));  // silent
  EXPECT_EQ((Names{"a-1.0"}), order({two, one}, 0));
  const Version v05 = makeVersion(0, 5, Final, 0);
  EXPECT_EQ((Names{"c-0.5"}), order({make("b", makeVersion(0, 4, Final, 0)), make("c", v05)}, v05));
  EXPECT_EQ((Names{"WARNING: omitting package a-1.0: newer package is already provided",
                   "WARNING: omitting package a-2.0: older package is already provided",
                   "WARNING: ommitting package b-0.4: not allowed"}),
            log());
  // Equal entries drop each other silently; a later build of one version wins.
  EXPECT_EQ(Names{}, order({make("a"), make("a")}));
  EXPECT_EQ(3u, log().size());
  EXPECT_EQ((Names{"a-1.0"}), order({make("a", kV1, 100), make("a", kV1, 101)}));
}

TEST_F(OrderCandidates, BundleAgainstASeparateFileOfItsMemberAndFlaggedState) {
  PackageInfo* suite = make("suite");
  suite->isBundle = true;
  auto member = std::make_shared<PackageInfo>("a");
  member->version = kV1;
  member->buildTime = 100;
  suite->members = {member};
  PackageInfo* single = make("a");
  EXPECT_EQ((Names{"suite-1.0"}), order({single, suite}));
  EXPECT_EQ((Names{"suite-1.0"}), order({suite, single}));
  single->version = kV2;  // a newer separate file beats the bundle's member
  EXPECT_EQ((Names{"a-2.0"}), order({suite, single}));
  repo().logLines.clear();
  flaggedState = true;
  PackageInfo* early = make("a", kV2, 10);
  PackageInfo* late = make("b", kV1, 20);
  EXPECT_EQ((Names{"c-1.0", "b-1.0"}), order({early, late, make("c", kV1, 20)}));
  EXPECT_EQ((Names{"b-1.0"}), order({early, late}, kNoMinimum, false));
  EXPECT_EQ((Names{"WARNING: ommiting older package a-2.0: router in flagged state"}), log());
}

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
    records_.clear();
    std::vector<PackageInfo*> list;
    for (int i = 2 + pick(10); i > 0; --i) {
      PackageInfo* entry = make(names[pick(6)]);
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
