#include "resolve/dependency_walk.h"
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
  std::vector<std::string> order(std::vector<PackageInfo*> list, Version minimum = kNoMinimum, bool verbose = true) {
    orderCandidates(repo(), list, minimum, verbose);
    std::vector<std::string> result;
    for (const PackageInfo* entry : list) result.push_back(packageLabel(*entry));
    return result;
  }
  std::vector<std::unique_ptr<PackageInfo>> records_;
};

using Labels = std::vector<std::string>;

TEST_F(OrderCandidates, PutsEachEntryAfterWhatItDependsOnOrWhatDisplacesIt) {
  PackageInfo* a = make("a");
  PackageInfo* b = make("b");
  PackageInfo* c = make("c");
  EXPECT_EQ((Labels{"c-1.0", "b-1.0", "a-1.0"}), order({a, b, c}));  // unrelated: reversed
  a->dependencies = {rel("b")};
  EXPECT_EQ((Labels{"b-1.0", "a-1.0"}), order({a, b}));
  EXPECT_EQ((Labels{"b-1.0", "a-1.0"}), order({b, a}));
  // After the last placed entry it needs, not the first.
  a->dependencies = {rel("b"), rel("c")};
  EXPECT_EQ((Labels{"c-1.0", "b-1.0", "a-1.0"}), order({b, c, a}));
  a->dependencies.clear();
  b->provides = {rel("a", 0, 0, 0)};  // b displaces a
  EXPECT_EQ((Labels{"b-1.0", "a-1.0"}), order({a, b}));
  EXPECT_TRUE(log().empty());
}

TEST_F(OrderCandidates, KeepsTheNewestOrInADowngradeTheOldestAllowed) {
  PackageInfo* two = make("a", kV2);
  PackageInfo* one = make("a", kV1);
  EXPECT_EQ((Labels{"a-2.0"}), order({one, two}));
  EXPECT_EQ((Labels{"a-2.0"}), order({one, two}, kNoMinimum, false));  // silent
  EXPECT_EQ((Labels{"a-1.0"}), order({two, one}, 0));
  PackageInfo* low = make("b", makeVersion(0, 4, Final, 0));
  PackageInfo* enough = make("c", makeVersion(0, 5, Final, 0));
  EXPECT_EQ((Labels{"c-0.5"}), order({low, enough}, makeVersion(0, 5, Final, 0)));
  EXPECT_EQ((std::vector<std::string>{"WARNING: omitting package a-1.0: newer package is already provided",
                                      "WARNING: omitting package a-2.0: older package is already provided",
                                      "WARNING: ommitting package b-0.4: not allowed"}),
            log());
  // Equal entries drop each other; a later build of one version wins.
  EXPECT_EQ(Labels{}, order({make("a"), make("a")}));
  EXPECT_EQ(3u, log().size());  // silently
  EXPECT_EQ((Labels{"a-1.0"}), order({make("a", kV1, 100), make("a", kV1, 101)}));
}

TEST_F(OrderCandidates, BundleAgainstASeparateFileOfItsMemberAndFlaggedState) {
  PackageInfo* bundle = make("suite");
  bundle->isBundle = true;
  auto member = std::make_shared<PackageInfo>("a");
  member->version = kV1;
  member->buildTime = 100;
  bundle->members = {member};
  PackageInfo* single = make("a");
  EXPECT_EQ((Labels{"suite-1.0"}), order({single, bundle}));
  EXPECT_EQ((Labels{"suite-1.0"}), order({bundle, single}));
  single->version = kV2;  // a newer separate file beats the bundle's member
  EXPECT_EQ((Labels{"a-2.0"}), order({bundle, single}));
  repo().logLines.clear();
  flaggedState = true;
  PackageInfo* early = make("a", kV2, 10);
  PackageInfo* late = make("b", kV1, 20);
  EXPECT_EQ((Labels{"c-1.0", "b-1.0"}), order({early, late, make("c", kV1, 20)}));
  EXPECT_EQ((Labels{"b-1.0"}), order({early, late}, kNoMinimum, false));
  EXPECT_EQ((std::vector<std::string>{"WARNING: ommiting older package a-2.0: router in flagged state"}), log());
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
      if (i == c) continue;
      PackageInfo& o = *list[i];
      if (flaggedState && o.buildTime > cur.buildTime) {
        if (verbose) printWarning("ommiting older package %s: router in flagged state", packageLabel(cur).c_str());
        dropped = true;
        break;
      }
      if (!isOrContains(cur, o) && !isOrContains(o, cur)) continue;
      int r = compareNewer(o, cur);
      if (minimum != kNoMinimum) r = -r;
      if (r > 0) {
        if (verbose) {
          printWarning(minimum == kNoMinimum ? "omitting package %s: newer package is already provided"
                                             : "omitting package %s: older package is already provided",
                       packageLabel(cur).c_str());
        }
        dropped = true;
      } else if (r == 0 && !(cur.isBundle && !o.isBundle)) {
        dropped = true;
      }
    }
    if (!dropped) kept.push_back(&cur);
  }
  std::vector<PackageInfo*> result;
  for (PackageInfo* x : kept) {
    size_t position = 0;
    for (size_t j = result.size(); j-- > 0;) {
      if (dependsOn(*x, *result[j]) || conflictsWith(*result[j], *x)) {
        position = j + 1;
        break;
      }
    }
    result.insert(result.begin() + position, x);
  }
  list = result;
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
          auto member = std::make_shared<PackageInfo>(names[pick(6)]);
          fill(*member);
          entry->members.push_back(member);
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
    const std::vector<std::string> expectedLog = log();
    repo().logLines.clear();
    orderCandidates(repo(), list, minimum, verbose);
    ASSERT_EQ(expected, list) << "seed " << seed;
    ASSERT_EQ(expectedLog, log()) << "seed " << seed;
  }
}

class DependencyWalk : public ResolveTest {};

TEST_F(DependencyWalk, StatusOfProviders) {
  Package q("q"), r("r");
  EXPECT_EQ(1, dependencyStatus({}));
  q.action = A::Disable;
  r.disabled = true;
  EXPECT_EQ(3, dependencyStatus({&q, &r}));
  q.action = A::Uninstall;
  EXPECT_EQ(1, dependencyStatus({&q}));
  EXPECT_EQ(3, dependencyStatus({&q, &r}));
  r.action = A::Enable;
  EXPECT_EQ(0, dependencyStatus({&q, &r}));
  r.action = A::Uninstall;  // a disabled package being removed is still "disabled"
  EXPECT_EQ(3, dependencyStatus({&r}));
  q.action = A::None;
  EXPECT_EQ(0, dependencyStatus({&r, &q}));
  // An enabled provider asked to be enabled again still provides.
  q.action = A::Enable;
  EXPECT_EQ(0, dependencyStatus({&q}));
}

TEST_F(DependencyWalk, CancelsTheRemovalOfANeededProviderAndFollowsIt) {
  Package& p = add("p", {.dependencies = {rel("q")}});
  Package& q = add("q", {.action = A::Uninstall, .dependencies = {rel("r")}});
  Package& r = add("r", {.disabled = true});
  keepDependencies(repo(), p, 1);
  EXPECT_EQ((std::vector<A>{A::None, A::None, A::Enable}), actions());
  ASSERT_EQ(1u, log().size());
  EXPECT_EQ("WARNING: can not uninstall q-1.0: p depends on it", log()[0]);

  q.action = A::Disable;
  r.action = A::None;
  keepDependencies(repo(), p, 0);
  EXPECT_EQ((std::vector<A>{A::None, A::None, A::Enable}), actions());
  EXPECT_EQ(1u, log().size());
}

TEST_F(DependencyWalk, KeepsTheBundleOfAMemberAndStopsAtAMissingProvider) {
  Package& suite = add("suite", {.action = A::Disable, .isBundle = true});
  Package& member = add("m", {.bundle = "suite"});
  keepDependencies(repo(), member, 1);
  EXPECT_EQ(A::None, suite.action);
  EXPECT_EQ((std::vector<std::string>{"WARNING: can not disable suite-1.0: m depends on it"}), log());
  Package& p = add("p", {.dependencies = {rel("missing"), rel("later")}});
  Package& later = add("later", {.disabled = true});
  keepDependencies(repo(), p, 1);
  EXPECT_EQ(A::None, later.action);
  p.dependencies = {rel("later"), rel("missing")};
  keepDependencies(repo(), p, 1);
  EXPECT_EQ(A::Enable, later.action);
  EXPECT_EQ(1u, log().size());
}

TEST_F(DependencyWalk, ChoosesTheNewestProviderOfAName) {
  Package& p = add("p", {.dependencies = {rel("feature")}});
  add("impl-a", {.disabled = true, .provides = {rel("feature")}});
  add("impl-b", {.disabled = true, .provides = {rel("feature")}});
  Package& old = add("q", {.disabled = true}, kV1);
  Package& recent = add("q", {.disabled = true}, kV2);
  keepDependencies(repo(), p, 1);
  // Unrelated providers come out reversed, so the last one is the first installed.
  EXPECT_EQ((std::vector<A>{A::None, A::Enable, A::None, A::None, A::None}), actions());

  p.dependencies = {rel("q")};
  keepDependencies(repo(), p, 1);
  EXPECT_EQ(A::None, old.action);
  EXPECT_EQ(A::Enable, recent.action);
}

TEST_F(DependencyWalk, FollowsChainsDeeperThanTheStackWouldAllow) {
  const int depth = 100000;
  Package& top = add("p0");
  top.dependencies = {rel("p1")};
  for (int i = 1; i < depth; ++i) {
    Package& next = add("p" + std::to_string(i));
    next.disabled = true;
    if (i + 1 < depth) next.dependencies = {rel("p" + std::to_string(i + 1))};
  }
  const ProviderIndex index(repo());
  keepDependencies(repo(), top, 0, ProviderSource(repo(), &index));
  for (int i = 1; i < depth; ++i) ASSERT_EQ(A::Enable, repo().packages[i]->action) << i;
}

}  // namespace
