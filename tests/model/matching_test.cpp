// The relation rules: bounds, provision ranges and priorities, placeholders, bundle members.
#include "model/matching.h"

#include <gtest/gtest.h>

namespace {

constexpr Version V(uint8_t major, uint8_t minor, uint8_t patch = 0) { return makeVersion(major, minor, Final, patch); }

PackageInfo package(const std::string& name, Version version, std::vector<Relation> provides = {},
                    uint32_t buildTime = 0) {
  PackageInfo p(name);
  p.version = version;
  p.buildTime = buildTime;
  p.provides = std::move(provides);
  return p;
}

PackageInfo with(PackageInfo p, std::vector<Relation> conflicts) {
  p.conflicts = std::move(conflicts);
  return p;
}

PackageInfo bundleOf(const std::string& name, Version version, std::vector<PackageInfo> members) {
  PackageInfo bundle = package(name, version);
  bundle.isBundle = true;
  for (auto& m : members) bundle.members.push_back(std::make_shared<PackageInfo>(m));
  return bundle;
}

// Inclusive bounds, 0 for none, names byte for byte; a provision matches when the ranges touch or overlap.
TEST(Satisfies, BoundsAndProvisionRanges) {
  const struct {
    std::string name; Version min, max;
    bool expected;
  } cases[] = {
      {"foo", V(6, 46), V(6, 46), true},       {"foo", V(6, 46, 1), V(6, 46, 1), false},
      {"foo", V(6, 45), V(6, 45, 255), false}, {"foo", V(6, 46), 0, true},
      {"foo", V(6, 46) + 1, 0, false},         {"foo", 0, 0, true},
      {"foo", 0, V(6, 46), true},              {"foo", 0, V(6, 46) - 1, false},
      {"fo", 0, 0, false},                     {std::string("foo\0", 4), 0, 0, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, satisfies(package("foo", V(6, 46)), Relation{c.name, c.min, c.max, 0})) << c.min << " " << c.max;
  }
  PackageInfo open = package("impl", V(1, 0), {{"feature", 5, 0, 0}});
  PackageInfo bounded = package("impl", V(1, 0), {{"other", 0, 0, 0}, {"feature", 2, 4, 0}});
  const struct {
    const PackageInfo* provider; Version min, max;
    bool expected;
  } ranges[] = {
      {&open, 1, 3, false},   {&open, 1, 0, true},     {&open, 1, 5, true},      {&bounded, 4, 0, true},
      {&bounded, 5, 0, false}, {&bounded, 0, 2, true}, {&bounded, 0, 1, false},
  };
  for (const auto& c : ranges) {
    EXPECT_EQ(c.expected, providesMatch(*c.provider, Relation{"feature", c.min, c.max, 0})) << c.min << " " << c.max;
  }
  bounded.provides.push_back({"feature", 10, 0, 0});  // a later provision of the name still counts
  EXPECT_TRUE(providesMatch(bounded, Relation{"feature", 5, 0, 0}));
}

// Relations through provisions and members, one way only; placeholders (all 0xFFFFFFFF) never conflict.
TEST(Relations, DependsOnAndConflictsWith) {
  PackageInfo app = package("app", V(1, 0)), a = package("a", V(1, 0)), member = package("wireless", V(6, 46));
  app.dependencies.push_back({"lib", V(2, 0), 0, 0});
  a.conflicts.push_back({"b", 0, 0, 0});
  member.conflicts.push_back({"legacy", 0, 0, 0});
  EXPECT_TRUE(dependsOn(app, package("altlib", V(1, 0), {{"lib", V(2, 0), 0, 0}})));
  EXPECT_TRUE(dependsOn(app, bundleOf("system", V(6, 46), {package("dhcp", V(6, 46)), package("lib", V(2, 0))})));
  EXPECT_FALSE(dependsOn(package("lib", V(2, 1)), app));
  EXPECT_FALSE(conflictsWith(package("b", V(2, 0)), a));
  EXPECT_TRUE(conflictsWith(a, package("c", V(1, 0), {{"b", V(1, 0), 0, 0}})));
  EXPECT_FALSE(conflictsWith(a, package("b", 0xFFFFFFFFu, {}, 0xFFFFFFFFu)));
  EXPECT_TRUE(conflictsWith(a, package("b", 0xFFFFFFFFu)));
  EXPECT_FALSE(conflictsWith(with(package("a", 0xFFFFFFFFu, {}, 0xFFFFFFFFu), a.conflicts), package("b", V(1, 0))));
  EXPECT_TRUE(conflictsWith(package("dhcp", V(6, 40)), bundleOf("system", V(6, 46), {package("dhcp", V(6, 46))})));
  EXPECT_TRUE(conflictsWith(bundleOf("extras", V(6, 46), {member}), package("legacy", V(1, 0))));
  EXPECT_FALSE(conflictsWith(bundleOf("extras", V(6, 46), {member}), package("modern", V(1, 0))));
}

// Provisions displace by priority: the first naming the other side decides, before later conflict entries.
TEST(Relations, ProvisionsDisplaceByPriority) {
  const struct {
    std::vector<Relation> aProvides, bProvides, aConflicts;
    bool aOverB, bOverA;
  } cases[] = {
      {{{"b", 0, 0, 0}}, {}, {}, true, false},  // A provides B's own name with priority 0
      {{{"b", 0, 0, -1}}, {}, {}, false, true},
      {{{"f", 0, 0, -5}}, {{"f", 0, 0, -6}}, {}, true, false},  // signed comparison
      {{}, {{"f", 0, 0, 0}, {"a", 0, 0, 0}}, {{"f", 0, 0, 0}}, false, true},
      {{}, {{"f", 0, 0, 0}, {"a", 0, 0, -1}}, {{"f", 0, 0, 0}}, true, false},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    PackageInfo a = package("a", V(1, 0), cases[i].aProvides), b = package("b", V(1, 0), cases[i].bProvides);
    a.conflicts = cases[i].aConflicts;
    EXPECT_EQ(cases[i].aOverB, conflictsWith(a, b)) << i;
    EXPECT_EQ(cases[i].bOverA, conflictsWith(b, a)) << i;
  }
}

// Newer by version, then build time; through the member named like the other side, on either side.
TEST(CompareNewer, ByVersionThenBuildTimeAndThroughBundleMembers) {
  EXPECT_GT(compareNewer(package("a", V(1, 1)), package("a", V(1, 0), {}, 999)), 0);
  EXPECT_EQ(0, compareNewer(package("a", V(9, 0)), package("b", V(1, 0))));
  PackageInfo bundle = bundleOf("system", V(6, 46), {package("ppp", V(6, 40)), package("dhcp", V(6, 46))});
  EXPECT_TRUE(isOrContains(bundle, package("dhcp", 0)));
  EXPECT_FALSE(isOrContains(package("dhcp", 0), bundle));
  EXPECT_GT(compareNewer(bundle, package("dhcp", V(6, 45))), 0);
  EXPECT_LT(compareNewer(package("dhcp", V(6, 45)), bundle), 0);
  EXPECT_EQ(0, compareNewer(bundle, package("wireless", V(1, 0))));
  bundle.members.push_back(std::make_shared<PackageInfo>(package("dhcp", V(7, 0))));  // the first member counts
  EXPECT_EQ(0, compareNewer(bundle, package("dhcp", V(6, 46))));
}

}  // namespace
