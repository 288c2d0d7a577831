// Decisions of the engine, checked in memory phase by phase; what it stages
// is checked in action_staging_test.cpp.
#include <random>

#include "model/matching.h"
#include "resolve/action_engine.h"
#include "resolve/action_phases.h"
#include "resolve/ordering.h"
#include "resolve_fixture.h"

namespace {

class ActionEngine : public ResolveTest {
 protected:
  std::vector<std::string> labels(const std::vector<Package*>& list) const {
    std::vector<std::string> result;
    for (const Package* package : list) result.push_back(package->name);
    return result;
  }
};

using Actions = std::vector<A>;
using Names = std::vector<std::string>;

TEST_F(ActionEngine, BundleActionsReachTheirMembers) {
  Package& suite = add("suite");
  suite.isBundle = true;
  Package& plain = add("plain");
  plain.bundle = rel("suite");
  Package& leaving = add("leaving");
  leaving.bundle = rel("suite");
  leaving.action = A::Uninstall;
  Package& off = add("off");
  off.bundle = rel("suite");
  off.disabled = true;
  const ProviderIndex index(repo());

  suite.action = A::Disable;
  propagateBundleActions(repo(), index);
  EXPECT_EQ((Actions{A::Disable, A::Disable, A::Uninstall, A::Disable}), actions());

  for (auto& package : repo().packages) package->action = A::None;
  suite.action = A::Enable;
  propagateBundleActions(repo(), index);
  EXPECT_EQ((Actions{A::Enable, A::None, A::None, A::Enable}), actions());  // only the disabled member

  suite.action = A::Uninstall;
  propagateBundleActions(repo(), index);
  EXPECT_EQ((Actions{A::Uninstall, A::Uninstall, A::Uninstall, A::Uninstall}), actions());
}

TEST_F(ActionEngine, KeptDependencies) {
  // A needed provider stays, with a warning.
  Package& lib = add("lib");
  lib.action = A::Uninstall;
  Package& app = add("app");
  app.dependencies = {rel("lib")};
  ASSERT_TRUE(decideActions(repo(), 1));
  EXPECT_EQ((Actions{A::None, A::None}), actions());
  EXPECT_EQ((Names{"WARNING: can not uninstall lib-1.0: app depends on it"}), log());
  EXPECT_TRUE(removalList(repo()).empty());
  // A redundant "enable" of the provider keeps its dependents too.
  lib.action = A::Enable;
  ASSERT_TRUE(decideActions(repo(), 1));
  EXPECT_EQ((Actions{A::Enable, A::None}), actions());
  // The provider of a disabled package may go, and takes it along.
  lib.action = A::Uninstall;
  app.disabled = true;
  add("other");
  repo().logLines.clear();
  ASSERT_TRUE(decideActions(repo(), 1));
  EXPECT_EQ((Actions{A::Uninstall, A::Uninstall, A::None}), actions());
  EXPECT_TRUE(log().empty());
}

TEST_F(ActionEngine, ConflictsAmongActivePackages) {
  // Two running packages: the first wins.
  Package& a = add("a");
  a.conflicts = {rel("b")};
  Package& b = add("b");
  b.conflicts = {rel("a")};
  settleConflicts(repo(), 1);
  EXPECT_EQ((Actions{A::None, A::Disable}), actions());
  // Enabling disables a running package that excludes the new one.
  repo().reset();
  Package& running = add("running");
  running.conflicts = {rel("new")};
  Package& fresh = add("new");
  fresh.disabled = true;
  fresh.action = A::Enable;
  settleConflicts(repo(), 1);
  EXPECT_EQ((Actions{A::Disable, A::Enable}), actions());
  EXPECT_TRUE(log().empty());
}

TEST_F(ActionEngine, EnableLosesToAnEnableThatExcludesItInEitherOrder) {
  for (bool excluderFirst : {false, true}) {
    repo().reset();
    Package& first = add(excluderFirst ? "b" : "a");
    Package& second = add(excluderFirst ? "a" : "b");
    Package& a = excluderFirst ? second : first;
    Package& b = excluderFirst ? first : second;
    b.conflicts = {rel("a")};  // B's view excludes A; A's view of B is clear
    a.disabled = b.disabled = true;
    a.action = b.action = A::Enable;
    ASSERT_TRUE(decideActions(repo(), 1));
    EXPECT_EQ(A::None, a.action) << excluderFirst;
    EXPECT_EQ(A::Enable, b.action) << excluderFirst;
    EXPECT_EQ((Names{"WARNING: can not enable a: b-1.0 conflicts with it"}), log()) << excluderFirst;
  }
}

TEST_F(ActionEngine, UnmetDependenciesUninstallOrDisable) {
  Package& gone = add("gone");
  gone.action = A::Uninstall;
  Package& off = add("off");
  off.action = A::Disable;
  Package& needsGone = add("needs-gone");
  needsGone.dependencies = {rel("gone")};
  needsGone.disabled = true;
  Package& needsOff = add("needs-off");
  needsOff.dependencies = {rel("off")};
  needsOff.disabled = true;
  needsOff.action = A::Enable;
  Package& sleeping = add("sleeping");
  sleeping.dependencies = {rel("off")};
  sleeping.disabled = true;
  add("keeper");
  const ProviderIndex index(repo());
  dropUnmetDependencies(repo(), index);
  EXPECT_EQ((Actions{A::Uninstall, A::Disable, A::Uninstall, A::Disable, A::None, A::None}), actions());
}

TEST_F(ActionEngine, UnmetDependenciesReachEarlierPackages) {
  // The change of a later package makes an earlier one lose its provider.
  Package& top = add("top");
  top.dependencies = {rel("mid")};
  Package& mid = add("mid");
  mid.dependencies = {rel("base")};
  Package& base = add("base");
  base.action = A::Uninstall;
  Package& side = add("side");
  side.dependencies = {rel("feature")};
  Package& provider = add("impl");
  provider.provides = {rel("feature")};
  provider.dependencies = {rel("mid")};
  add("keeper");
  const ProviderIndex index(repo());
  dropUnmetDependencies(repo(), index);
  EXPECT_EQ((Actions{A::Uninstall, A::Uninstall, A::Uninstall, A::Uninstall, A::Uninstall, A::None}), actions());
}

TEST_F(ActionEngine, BundlesWithoutActiveMembers) {
  Package& emptied = add("emptied");
  emptied.isBundle = true;
  Package& m1 = add("m1");
  m1.bundle = rel("emptied");
  m1.action = A::Uninstall;
  Package& asleep = add("asleep");
  asleep.isBundle = true;
  Package& m2 = add("m2");
  m2.bundle = rel("asleep");
  m2.disabled = true;
  Package& dormant = add("dormant");
  dormant.isBundle = true;
  dormant.disabled = true;
  dormant.action = A::Enable;
  Package& m3 = add("m3");
  m3.bundle = rel("dormant");
  m3.disabled = true;
  Package& lively = add("lively");
  lively.isBundle = true;
  Package& m4 = add("m4");
  m4.bundle = rel("lively");
  m4.disabled = true;
  Package& m5 = add("m5");
  m5.bundle = rel("lively");
  Package& lonely = add("lonely");
  lonely.isBundle = true;
  lonely.disabled = true;
  Package& again = add("again");
  again.isBundle = true;
  Package& m6 = add("m6");
  m6.bundle = rel("again");
  m6.action = A::Enable;  // enabled and asked to be enabled again: it stays

  settleEmptyBundles(repo());
  EXPECT_EQ(A::Uninstall, emptied.action);
  EXPECT_EQ(A::Uninstall, asleep.action);  // enabled, remaining members all disabled
  EXPECT_EQ(A::None, dormant.action);      // disabled: keeps no pending Enable
  EXPECT_EQ(A::None, lively.action);
  EXPECT_EQ(A::Uninstall, lonely.action);  // no member at all
  EXPECT_EQ(A::None, again.action);
}

TEST_F(ActionEngine, RefusesToLeaveNothingEnabled) {
  Package& a = add("a");
  a.action = A::Uninstall;
  Package& b = add("b");
  b.action = A::Disable;
  Package& c = add("c");
  c.disabled = true;
  EXPECT_FALSE(decideActions(repo(), 1));
  EXPECT_EQ((Actions{A::None, A::None, A::None}), actions());
  EXPECT_EQ((Names{"ERROR: can not uninstall or disable all packages"}), log());
  a.action = A::Uninstall;
  b.action = A::Disable;
  EXPECT_FALSE(decideActions(repo(), 0));
  EXPECT_EQ(1u, log().size());  // not said again at verbosity 0

  repo().reset();
  EXPECT_TRUE(decideActions(repo(), 1));  // an empty database is not refused
  EXPECT_TRUE(log().empty());
}

TEST_F(ActionEngine, RemovalsRunLastInstalledFirstAndEnablesInDependencyOrder) {
  add("a").action = A::Uninstall;
  add("b").action = A::Disable;
  add("c");
  add("d").action = A::Uninstall;
  EXPECT_EQ((Names{"d", "b", "a"}), labels(removalList(repo())));

  repo().reset();
  Package& app = add("app");
  app.dependencies = {rel("lib")};
  add("lib");
  Package& tool = add("tool");
  for (auto& package : repo().packages) {
    package->disabled = true;
    package->action = A::Enable;
  }
  tool.dependencies = {rel("app")};
  EXPECT_EQ((Names{"lib", "app", "tool"}), labels(enableList(repo())));
}

TEST_F(ActionEngine, FlaggedStateEnablesOnlyTheLatestBuilds) {
  flaggedState = true;
  add("keeper");
  Package& early = add("early", kV1, 10);
  Package& late = add("late", kV1, 20);
  early.disabled = late.disabled = true;
  early.action = late.action = A::Enable;
  ASSERT_TRUE(decideActions(repo(), 1));
  EXPECT_EQ((Names{"late"}), labels(enableList(repo())));
  EXPECT_EQ(A::Enable, early.action);
  EXPECT_TRUE(log().empty());
}

// The phases as literally described: every pair for conflicts, and a scan
// that starts again from the first package after every change. The engine's
// indexed versions must decide exactly the same.
void literalConflicts(Repository& repository) {
  auto& packages = repository.packages;
  for (size_t x = 0; x < packages.size(); ++x) {
    Package& first = *packages[x];
    if (!isActive(first)) continue;
    for (size_t y = 0; y < packages.size(); ++y) {
      Package& other = *packages[y];
      if (x == y) continue;
      if (!(other.disabled ? other.action == A::Enable : other.action == A::None)) continue;
      if (conflictsWith(first, other)) {
        if (other.action == A::None) other.action = A::Disable;
        continue;
      }
      if (first.action == A::Enable && conflictsWith(other, first)) {
        if (other.action == A::None) {
          other.action = A::Disable;
        } else {
          first.action = A::None;
          break;
        }
      }
    }
  }
}

void literalUnmet(Repository& repository) {
restart:
  for (auto& owned : repository.packages) {
    Package& package = *owned;
    for (const Relation& dependency : package.dependencies) {
      const int status = dependencyStatus(repository.findProviders(dependency));
      if (status == 1 && package.action != A::Uninstall) {
        package.action = A::Uninstall;
        goto restart;
      }
      if (status == 3 && package.action != A::Uninstall && package.action != A::Disable &&
          !(package.disabled && package.action == A::None)) {
        package.action = A::Disable;
        goto restart;
      }
    }
  }
}

void randomSet(Repository& repository, unsigned seed) {
  std::mt19937 random(seed);
  auto pick = [&](int n) { return static_cast<int>(random() % n); };
  const char* names[] = {"a", "b", "c", "d", "e", "f", "g", "h"};
  const char* features[] = {"x", "y", "z"};
  repository.reset();
  const int count = 4 + pick(14);
  for (int i = 0; i < count; ++i) {
    auto package = std::make_unique<Package>(names[pick(8)]);
    package->version = makeVersion(1 + pick(3), 0, Final, 0);
    package->buildTime = 100;
    package->disabled = pick(3) == 0;
    package->action = static_cast<A>(pick(6) < 3 ? 0 : pick(4));
    for (int d = pick(3); d > 0; --d) {
      package->dependencies.push_back(rel(pick(2) ? names[pick(8)] : features[pick(3)], pick(4) == 0 ? kV2 : 0));
    }
    for (int p = pick(3); p > 0; --p) package->provides.push_back(rel(features[pick(3)], 0, 0, pick(4) - 1));
    if (pick(4) == 0) package->conflicts.push_back(rel(names[pick(8)]));
    if (pick(6) == 0) {
      auto member = std::make_shared<PackageInfo>(names[pick(8)]);
      member->version = kV1;
      if (pick(2)) member->provides.push_back(rel(features[pick(3)], 0, 0, pick(4) - 1));
      if (pick(2)) member->conflicts.push_back(rel(pick(2) ? names[pick(8)] : features[pick(3)]));
      package->members.push_back(member);
    }
    repository.packages.push_back(std::move(package));
  }
}

TEST_F(ActionEngine, IndexedPhasesDecideAsTheLiteralScans) {
  for (unsigned seed = 1; seed <= 5000; ++seed) {
    randomSet(repo(), seed);
    literalConflicts(repo());
    const Actions expectConflicts = actions();
    literalUnmet(repo());
    const Actions expectUnmet = actions();

    randomSet(repo(), seed);
    settleConflicts(repo(), 0);
    ASSERT_EQ(expectConflicts, actions()) << "conflicts, seed " << seed;
    const ProviderIndex index(repo());
    dropUnmetDependencies(repo(), index);
    ASSERT_EQ(expectUnmet, actions()) << "unmet dependencies, seed " << seed;
  }
}

TEST_F(ActionEngine, IndexedProvidersMatchTheRepository) {
  for (unsigned seed = 1; seed <= 500; ++seed) {
    randomSet(repo(), seed);
    repo().packages[0]->version = repo().packages[0]->buildTime = 0xFFFFFFFFu;  // placeholder
    const ProviderIndex index(repo());
    for (const char* name : {"a", "b", "c", "d", "x", "y", "z", "none"}) {
      for (Version minimum : {Version{0}, kV2}) {
        const Relation relation = rel(name, minimum);
        ASSERT_EQ(repo().findProviders(relation), index.providers(relation)) << seed << " " << name;
      }
      ASSERT_EQ(repo().findInstalled(name), index.findInstalled(name));
    }
  }
}

}  // namespace
