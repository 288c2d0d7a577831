#include "model/matching.h"

#include <gtest/gtest.h>

namespace {

constexpr Version V(uint8_t major, uint8_t minor, uint8_t patch = 0) { return makeVersion(major, minor, Final, patch); }

PackageInfo package(const std::string& name, Version version, uint32_t buildTime = 0) {
  PackageInfo p(name);
  p.version = version;
  p.buildTime = buildTime;
  return p;
}

Relation relation(const std::string& name, Version min, Version max, int32_t priority = 0) {
  return Relation{name, min, max, priority};
}

PackageInfo placeholder(const std::string& name) { return package(name, 0xFFFFFFFFu, 0xFFFFFFFFu); }

PackageInfo bundleOf(const std::string& name, Version version, std::vector<PackageInfo> members) {
  PackageInfo bundle = package(name, version);
  bundle.isBundle = true;
  for (auto& m : members) bundle.members.push_back(std::make_shared<PackageInfo>(m));
  return bundle;
}

}  // namespace

TEST(Satisfies, BoundsAreInclusiveAndZeroIsNoBound) {
  PackageInfo foo = package("foo", V(6, 46));
  EXPECT_TRUE(satisfies(foo, relation("foo", V(6, 46), V(6, 46))));
  EXPECT_FALSE(satisfies(foo, relation("foo", V(6, 46, 1), V(6, 46, 1))));
  EXPECT_FALSE(satisfies(foo, relation("foo", V(6, 45), V(6, 45, 255))));
  EXPECT_TRUE(satisfies(foo, relation("foo", V(6, 46), 0)));
  EXPECT_FALSE(satisfies(foo, relation("foo", V(6, 46) + 1, 0)));
  EXPECT_TRUE(satisfies(foo, relation("foo", 0, 0)));
  EXPECT_TRUE(satisfies(foo, relation("foo", 0, V(6, 46))));
  EXPECT_FALSE(satisfies(foo, relation("foo", 0, V(6, 46) - 1)));
  // A pre-release sits below the final of its version.
  EXPECT_FALSE(satisfies(package("foo", makeVersion(6, 46, ReleaseCandidate, 2)), relation("foo", V(6, 46), 0)));
}

TEST(Satisfies, NamesMustMatchExactly) {
  PackageInfo foo = package("foo", V(1, 0));
  EXPECT_FALSE(satisfies(foo, relation("fo", 0, 0)));
  EXPECT_FALSE(satisfies(foo, relation("foo2", 0, 0)));
  EXPECT_FALSE(satisfies(foo, relation("Foo", 0, 0)));
  EXPECT_FALSE(satisfies(foo, relation(std::string("foo\0", 4), 0, 0)));
}

TEST(Satisfies, BuildTimeIsIgnored) {
  Relation exact = relation("foo", V(1, 0), V(1, 0));
  EXPECT_TRUE(satisfies(package("foo", V(1, 0), 100), exact));
  EXPECT_TRUE(satisfies(package("foo", V(1, 0), 200), exact));
}

TEST(ProvidesMatch, RangesMustOverlap) {
  PackageInfo p = package("impl", V(1, 0));
  p.provides.push_back(relation("feature", 5, 0));
  EXPECT_FALSE(providesMatch(p, relation("feature", 1, 3)));
  EXPECT_TRUE(providesMatch(p, relation("feature", 1, 0)));
  EXPECT_TRUE(providesMatch(p, relation("feature", 1, 5)));  // touching bounds overlap
  EXPECT_FALSE(providesMatch(p, relation("other", 0, 0)));

  PackageInfo bounded = package("impl", V(1, 0));
  bounded.provides.push_back(relation("feature", 2, 4));
  EXPECT_TRUE(providesMatch(bounded, relation("feature", 4, 0)));
  EXPECT_FALSE(providesMatch(bounded, relation("feature", 5, 0)));
  EXPECT_TRUE(providesMatch(bounded, relation("feature", 0, 2)));
  EXPECT_FALSE(providesMatch(bounded, relation("feature", 0, 1)));

  // A later provision of the same name can still match.
  bounded.provides.push_back(relation("feature", 10, 0));
  EXPECT_TRUE(providesMatch(bounded, relation("feature", 5, 0)));
}

TEST(DependsOn, ThroughProvisionsAndMembers) {
  PackageInfo app = package("app", V(1, 0));
  app.dependencies.push_back(relation("lib", V(2, 0), 0));
  EXPECT_TRUE(dependsOn(app, package("lib", V(2, 1))));
  EXPECT_FALSE(dependsOn(app, package("lib", V(1, 9))));
  EXPECT_FALSE(dependsOn(package("lib", V(2, 1)), app));

  PackageInfo alt = package("altlib", V(1, 0));
  alt.provides.push_back(relation("lib", V(2, 0), 0));
  EXPECT_TRUE(dependsOn(app, alt));

  PackageInfo bundle = bundleOf("system", V(6, 46), {package("dhcp", V(6, 46)), package("lib", V(2, 0))});
  EXPECT_TRUE(dependsOn(app, bundle));  // a member of B is needed
  PackageInfo appBundle = bundleOf("apps", V(1, 0), {app});
  EXPECT_TRUE(dependsOn(appBundle, package("lib", V(3, 0))));  // a member of A needs B
  EXPECT_FALSE(dependsOn(appBundle, package("dhcp", V(6, 46))));
}

TEST(ConflictsWith, ByConflictEntry) {
  PackageInfo a = package("a", V(1, 0));
  a.conflicts.push_back(relation("b", 0, V(2, 0)));
  EXPECT_TRUE(conflictsWith(a, package("b", V(2, 0))));
  EXPECT_FALSE(conflictsWith(a, package("b", V(2, 0, 1))));
  EXPECT_FALSE(conflictsWith(package("b", V(2, 0)), a));  // not symmetric

  PackageInfo c = package("c", V(1, 0));
  c.provides.push_back(relation("b", V(1, 0), 0));
  EXPECT_TRUE(conflictsWith(a, c));  // a provider of what a excludes
}

TEST(ConflictsWith, PlaceholdersNeverConflict) {
  PackageInfo a = package("a", V(1, 0));
  a.conflicts.push_back(relation("b", 0, 0));
  EXPECT_FALSE(conflictsWith(a, placeholder("b")));
  PackageInfo holder = placeholder("a");
  holder.conflicts.push_back(relation("b", 0, 0));
  EXPECT_FALSE(conflictsWith(holder, package("b", V(1, 0))));
  // Only both fields at 0xFFFFFFFF make a placeholder.
  EXPECT_TRUE(conflictsWith(a, package("b", 0xFFFFFFFFu, 0)));
}

TEST(ConflictsWith, ProvisionsDisplaceByPriority) {
  // A provides B's own name with priority 0: A displaces B, B does not displace A.
  PackageInfo a = package("a", V(1, 0));
  a.provides.push_back(relation("b", 0, 0, 0));
  PackageInfo b = package("b", V(1, 0));
  EXPECT_TRUE(conflictsWith(a, b));
  EXPECT_FALSE(conflictsWith(b, a));

  // A negative priority is displaced instead.
  a.provides[0].priority = -1;
  EXPECT_FALSE(conflictsWith(a, b));

  // Two providers of one name: the strictly higher priority displaces.
  PackageInfo x = package("x", V(1, 0)), y = package("y", V(1, 0));
  x.provides.push_back(relation("feature", 0, 0, 1));
  y.provides.push_back(relation("feature", 0, 0, 1));
  EXPECT_FALSE(conflictsWith(x, y));
  EXPECT_FALSE(conflictsWith(y, x));
  x.provides[0].priority = 2;
  EXPECT_TRUE(conflictsWith(x, y));
  EXPECT_FALSE(conflictsWith(y, x));
  x.provides[0].priority = -5;
  y.provides[0].priority = -6;
  EXPECT_TRUE(conflictsWith(x, y));  // signed comparison
}

TEST(ConflictsWith, FirstNamingProvisionDecidesAndStops) {
  // B provides A's name with a non-negative priority: A's view is "no
  // conflict", and A's own conflict entries that would match later are not read.
  PackageInfo a = package("a", V(1, 0));
  PackageInfo b = package("b", V(1, 0));
  b.provides.push_back(relation("feature", 0, 0, 0));
  b.provides.push_back(relation("a", 0, 0, 0));
  a.conflicts.push_back(relation("feature", 0, 0));
  EXPECT_FALSE(conflictsWith(a, b));
  b.provides[1].priority = -1;
  EXPECT_TRUE(conflictsWith(a, b));
}

TEST(ConflictsWith, BundleMembers) {
  // A bundle that carries a member named like A is in A's way.
  PackageInfo a = package("dhcp", V(6, 40));
  PackageInfo bundle = bundleOf("system", V(6, 46), {package("dhcp", V(6, 46))});
  EXPECT_TRUE(conflictsWith(a, bundle));
  // A bundle conflicts when one of its members does.
  PackageInfo member = package("wireless", V(6, 46));
  member.conflicts.push_back(relation("legacy", 0, 0));
  PackageInfo withConflict = bundleOf("extras", V(6, 46), {member});
  EXPECT_TRUE(conflictsWith(withConflict, package("legacy", V(1, 0))));
  EXPECT_FALSE(conflictsWith(withConflict, package("modern", V(1, 0))));
}

TEST(IsOrContains, NameOrMemberName) {
  PackageInfo bundle = bundleOf("system", V(6, 46), {package("dhcp", V(6, 46))});
  EXPECT_TRUE(isOrContains(bundle, package("system", 0)));
  EXPECT_TRUE(isOrContains(bundle, package("dhcp", 0)));
  EXPECT_FALSE(isOrContains(bundle, package("ppp", 0)));
  EXPECT_FALSE(isOrContains(package("dhcp", 0), bundle));
}

TEST(CompareNewer, SameNameByVersionThenBuildTime) {
  EXPECT_GT(compareNewer(package("a", V(1, 1)), package("a", V(1, 0), 999)), 0);
  EXPECT_LT(compareNewer(package("a", V(1, 0), 999), package("a", V(1, 1))), 0);
  EXPECT_GT(compareNewer(package("a", V(1, 0), 2), package("a", V(1, 0), 1)), 0);
  EXPECT_LT(compareNewer(package("a", V(1, 0), 1), package("a", V(1, 0), 2)), 0);
  EXPECT_EQ(0, compareNewer(package("a", V(1, 0), 1), package("a", V(1, 0), 1)));
  EXPECT_EQ(0, compareNewer(package("a", V(9, 0)), package("b", V(1, 0))));
}

TEST(CompareNewer, ThroughBundleMembers) {
  PackageInfo bundle = bundleOf("system", V(6, 46), {package("ppp", V(6, 40)), package("dhcp", V(6, 46))});
  // The member of A named like B decides, not A's own version.
  EXPECT_GT(compareNewer(bundle, package("dhcp", V(6, 45))), 0);
  EXPECT_LT(compareNewer(bundle, package("dhcp", V(6, 47))), 0);
  // A member of B named like A decides, with the sign turned.
  EXPECT_LT(compareNewer(package("dhcp", V(6, 45)), bundle), 0);
  EXPECT_GT(compareNewer(package("dhcp", V(6, 47)), bundle), 0);
  EXPECT_EQ(0, compareNewer(package("dhcp", V(6, 46)), bundle));
  EXPECT_EQ(0, compareNewer(bundle, package("wireless", V(1, 0))));
  // The first member of that name counts.
  bundle.members.push_back(std::make_shared<PackageInfo>(package("dhcp", V(7, 0))));
  EXPECT_EQ(0, compareNewer(bundle, package("dhcp", V(6, 46))));
}
