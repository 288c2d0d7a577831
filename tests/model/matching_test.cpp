// The relation rules: inclusive bounds with 0 as no bound, provision ranges
// and priorities, placeholders, and comparisons through bundle members.
#include "model/matching.h"

#include <gtest/gtest.h>

namespace {

constexpr Version V(uint8_t major, uint8_t minor, uint8_t patch = 0) { return makeVersion(major, minor, Final, patch); }

PackageInfo package(const std::string& name, Version version, uint32_t buildTime = 0,
                    std::vector<Relation> provides = {}) {
  PackageInfo p(name);
  p.version = version;
  p.buildTime = buildTime;
  p.provides = std::move(provides);
  return p;
}

PackageInfo bundleOf(const std::string& name, Version version, std::vector<PackageInfo> members) {
  PackageInfo bundle = package(name, version);
  bundle.isBundle = true;
  for (auto& m : members) bundle.members.push_back(std::make_shared<PackageInfo>(m));
  return bundle;
}

TEST(Satisfies, BoundsAreInclusiveZeroIsNoBoundAndNamesMatchExactly) {
  const struct {
    std::string name;
    Version min, max;
    bool expected;
  } cases[] = {
      {"foo", V(6, 46), V(6, 46), true},          {"foo", V(6, 46, 1), V(6, 46, 1), false},
      {"foo", V(6, 45), V(6, 45, 255), false},    {"foo", V(6, 46), 0, true},
      {"foo", V(6, 46) + 1, 0, false},            {"foo", 0, 0, true},
      {"foo", 0, V(6, 46), true},                 {"foo", 0, V(6, 46) - 1, false},
      {"fo", 0, 0, false},                        {"Foo", 0, 0, false},
      {std::string("foo\0", 4), 0, 0, false},
  };
  for (const auto& c : cases) {
    for (uint32_t buildTime : {0u, 200u}) {  // build time is ignored
      EXPECT_EQ(c.expected, satisfies(package("foo", V(6, 46), buildTime), Relation{c.name, c.min, c.max, 0}))
          << c.name << " " << c.min << " " << c.max;
    }
  }
  // A pre-release sits below the final of its version.
  EXPECT_FALSE(satisfies(package("foo", makeVersion(6, 46, ReleaseCandidate, 2)), Relation{"foo", V(6, 46), 0, 0}));
}

TEST(ProvidesMatch, RangesMustOverlap) {
  PackageInfo open = package("impl", V(1, 0), 0, {{"feature", 5, 0, 0}});
  PackageInfo bounded = package("impl", V(1, 0), 0, {{"feature", 2, 4, 0}});
  const struct {
    const PackageInfo* provider;
    Version min, max;
    bool expected;
  } cases[] = {
      {&open, 1, 3, false}, {&open, 1, 0, true}, {&open, 1, 5, true},  // touching bounds overlap
      {&bounded, 4, 0, true}, {&bounded, 5, 0, false}, {&bounded, 0, 2, true}, {&bounded, 0, 1, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, providesMatch(*c.provider, Relation{"feature", c.min, c.max, 0})) << c.min << " " << c.max;
  }
  EXPECT_FALSE(providesMatch(open, Relation{"other", 0, 0, 0}));
  // A later provision of the same name can still match.
  bounded.provides.push_back({"feature", 10, 0, 0});
  EXPECT_TRUE(providesMatch(bounded, Relation{"feature", 5, 0, 0}));
}

TEST(DependsOn, ThroughProvisionsAndMembers) {
  PackageInfo app = package("app", V(1, 0));
  app.dependencies.push_back({"lib", V(2, 0), 0, 0});
  EXPECT_TRUE(dependsOn(app, package("lib", V(2, 1))));
  EXPECT_FALSE(dependsOn(app, package("lib", V(1, 9))));
  EXPECT_FALSE(dependsOn(package("lib", V(2, 1)), app));
  EXPECT_TRUE(dependsOn(app, package("altlib", V(1, 0), 0, {{"lib", V(2, 0), 0, 0}})));
  EXPECT_TRUE(dependsOn(app, bundleOf("system", V(6, 46), {package("dhcp", V(6, 46)), package("lib", V(2, 0))})));
  PackageInfo appBundle = bundleOf("apps", V(1, 0), {app});
  EXPECT_TRUE(dependsOn(appBundle, package("lib", V(3, 0))));  // a member of A needs B
  EXPECT_FALSE(dependsOn(appBundle, package("dhcp", V(6, 46))));
}

TEST(ConflictsWith, EntriesPlaceholdersAndMembers) {
  PackageInfo a = package("a", V(1, 0));
  a.conflicts.push_back({"b", 0, V(2, 0), 0});
  EXPECT_TRUE(conflictsWith(a, package("b", V(2, 0))));
  EXPECT_FALSE(conflictsWith(a, package("b", V(2, 0, 1))));
  EXPECT_FALSE(conflictsWith(package("b", V(2, 0)), a));  // not symmetric
  EXPECT_TRUE(conflictsWith(a, package("c", V(1, 0), 0, {{"b", V(1, 0), 0, 0}})));  // a provider of it
  // Placeholders (both fields 0xFFFFFFFF) never conflict, either way round.
  a.conflicts = {{"b", 0, 0, 0}};
  EXPECT_FALSE(conflictsWith(a, package("b", 0xFFFFFFFFu, 0xFFFFFFFFu)));
  EXPECT_TRUE(conflictsWith(a, package("b", 0xFFFFFFFFu, 0)));
  PackageInfo holder = package("a", 0xFFFFFFFFu, 0xFFFFFFFFu);
  holder.conflicts = a.conflicts;
  EXPECT_FALSE(conflictsWith(holder, package("b", V(1, 0))));
  // A bundle carrying a member named like A is in A's way; a bundle conflicts
  // when one of its members does.
  EXPECT_TRUE(conflictsWith(package("dhcp", V(6, 40)), bundleOf("system", V(6, 46), {package("dhcp", V(6, 46))})));
  PackageInfo member = package("wireless", V(6, 46));
  member.conflicts.push_back({"legacy", 0, 0, 0});
  PackageInfo extras = bundleOf("extras", V(6, 46), {member});
  EXPECT_TRUE(conflictsWith(extras, package("legacy", V(1, 0))));
  EXPECT_FALSE(conflictsWith(extras, package("modern", V(1, 0))));
}

TEST(ConflictsWith, ProvisionsDisplaceByPriority) {
  const struct {
    std::vector<Relation> aProvides, bProvides;
    bool aOverB, bOverA;
  } cases[] = {
      {{{"b", 0, 0, 0}}, {}, true, false},   // A provides B's own name with priority 0: A displaces B
      {{{"b", 0, 0, -1}}, {}, false, true},  // a negative priority is displaced instead
      {{{"f", 0, 0, 1}}, {{"f", 0, 0, 1}}, false, false},  // equal priorities: neither
      {{{"f", 0, 0, 2}}, {{"f", 0, 0, 1}}, true, false},   // strictly higher displaces
      {{{"f", 0, 0, -5}}, {{"f", 0, 0, -6}}, true, false},  // signed comparison
  };
  for (const auto& c : cases) {
    PackageInfo a = package("a", V(1, 0), 0, c.aProvides), b = package("b", V(1, 0), 0, c.bProvides);
    EXPECT_EQ(c.aOverB, conflictsWith(a, b)) << c.aProvides[0].priority;
    EXPECT_EQ(c.bOverA, conflictsWith(b, a)) << c.aProvides[0].priority;
  }
  // The first provision naming A decides and stops: with a non-negative
  // priority, A's own conflict entries that would match later are not read.
  PackageInfo a = package("a", V(1, 0));
  a.conflicts.push_back({"feature", 0, 0, 0});
  PackageInfo b = package("b", V(1, 0), 0, {{"feature", 0, 0, 0}, {"a", 0, 0, 0}});
  EXPECT_FALSE(conflictsWith(a, b));
  b.provides[1].priority = -1;
  EXPECT_TRUE(conflictsWith(a, b));
}

TEST(CompareNewer, ByVersionThenBuildTimeAndThroughBundleMembers) {
  EXPECT_GT(compareNewer(package("a", V(1, 1)), package("a", V(1, 0), 999)), 0);
  EXPECT_LT(compareNewer(package("a", V(1, 0), 999), package("a", V(1, 1))), 0);
  EXPECT_GT(compareNewer(package("a", V(1, 0), 2), package("a", V(1, 0), 1)), 0);
  EXPECT_EQ(0, compareNewer(package("a", V(1, 0), 1), package("a", V(1, 0), 1)));
  EXPECT_EQ(0, compareNewer(package("a", V(9, 0)), package("b", V(1, 0))));
  PackageInfo bundle = bundleOf("system", V(6, 46), {package("ppp", V(6, 40)), package("dhcp", V(6, 46))});
  EXPECT_TRUE(isOrContains(bundle, package("dhcp", 0)));
  EXPECT_FALSE(isOrContains(package("dhcp", 0), bundle));
  // The member of A named like B decides; a member of B named like A, with the sign turned.
  EXPECT_GT(compareNewer(bundle, package("dhcp", V(6, 45))), 0);
  EXPECT_LT(compareNewer(bundle, package("dhcp", V(6, 47))), 0);
  EXPECT_LT(compareNewer(package("dhcp", V(6, 45)), bundle), 0);
  EXPECT_GT(compareNewer(package("dhcp", V(6, 47)), bundle), 0);
  EXPECT_EQ(0, compareNewer(bundle, package("wireless", V(1, 0))));
  // The first member of that name counts.
  bundle.members.push_back(std::make_shared<PackageInfo>(package("dhcp", V(7, 0))));
  EXPECT_EQ(0, compareNewer(bundle, package("dhcp", V(6, 46))));
}

}  // namespace
