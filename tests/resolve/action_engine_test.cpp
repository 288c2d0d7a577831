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
  Package& suite = add("suite", {.isBundle = true});
  add("plain", {.bundle = "suite"});
  add("leaving", {.action = A::Uninstall, .bundle = "suite"});
  add("off", {.disabled = true, .bundle = "suite"});
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
  Package& lib = add("lib", {.action = A::Uninstall});
  Package& app = add("app", {.dependencies = {rel("lib")}});
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
  add("a", {.conflicts = {rel("b")}});
  add("b", {.conflicts = {rel("a")}});
  settleConflicts(repo(), 1);
  EXPECT_EQ((Actions{A::None, A::Disable}), actions());
  // Enabling disables a running package that excludes the new one.
  repo().reset();
  add("running", {.conflicts = {rel("new")}});
  add("new", {.action = A::Enable, .disabled = true});
  settleConflicts(repo(), 1);
  EXPECT_EQ((Actions{A::Disable, A::Enable}), actions());
  EXPECT_TRUE(log().empty());
  // An Enable loses to an Enable that excludes it, in either order.
  for (bool excluderFirst : {false, true}) {
    repo().reset();
    if (!excluderFirst) add("a", {.action = A::Enable, .disabled = true});
    add("b", {.action = A::Enable, .disabled = true, .conflicts = {rel("a")}});  // A's view of B is clear
    if (excluderFirst) add("a", {.action = A::Enable, .disabled = true});
    ASSERT_TRUE(decideActions(repo(), 1));
    EXPECT_EQ(A::None, repo().findInstalled("a")->action) << excluderFirst;
    EXPECT_EQ(A::Enable, repo().findInstalled("b")->action) << excluderFirst;
    EXPECT_EQ((Names{"WARNING: can not enable a: b-1.0 conflicts with it"}), log()) << excluderFirst;
  }
}

TEST_F(ActionEngine, UnmetDependenciesUninstallOrDisable) {
  add("gone", {.action = A::Uninstall});
  add("off", {.action = A::Disable});
  add("needs-gone", {.disabled = true, .dependencies = {rel("gone")}});
  add("needs-off", {.action = A::Enable, .disabled = true, .dependencies = {rel("off")}});
  add("sleeping", {.disabled = true, .dependencies = {rel("off")}});
  add("keeper");
  dropUnmetDependencies(repo(), ProviderIndex(repo()));
  EXPECT_EQ((Actions{A::Uninstall, A::Disable, A::Uninstall, A::Disable, A::None, A::None}), actions());
  // The change of a later package makes an earlier one lose its provider.
  repo().reset();
  add("top", {.dependencies = {rel("mid")}});
  add("mid", {.dependencies = {rel("base")}});
  add("base", {.action = A::Uninstall});
  add("side", {.dependencies = {rel("feature")}});
  add("impl", {.dependencies = {rel("mid")}, .provides = {rel("feature")}});
  add("keeper");
  dropUnmetDependencies(repo(), ProviderIndex(repo()));
  EXPECT_EQ((Actions{A::Uninstall, A::Uninstall, A::Uninstall, A::Uninstall, A::Uninstall, A::None}), actions());
}

TEST_F(ActionEngine, BundlesWithoutActiveMembers) {
  Package& emptied = add("emptied", {.isBundle = true});
  add("m1", {.action = A::Uninstall, .bundle = "emptied"});
  Package& asleep = add("asleep", {.isBundle = true});
  add("m2", {.disabled = true, .bundle = "asleep"});
  Package& dormant = add("dormant", {.action = A::Enable, .disabled = true, .isBundle = true});
  add("m3", {.disabled = true, .bundle = "dormant"});
  Package& lively = add("lively", {.isBundle = true});
  add("m4", {.disabled = true, .bundle = "lively"});
  add("m5", {.bundle = "lively"});
  Package& lonely = add("lonely", {.disabled = true, .isBundle = true});
  Package& again = add("again", {.isBundle = true});
  add("m6", {.action = A::Enable, .bundle = "again"});  // enabled and asked to be enabled again: it stays
  settleEmptyBundles(repo());
  EXPECT_EQ(A::Uninstall, emptied.action);
  EXPECT_EQ(A::Uninstall, asleep.action);  // enabled, remaining members all disabled
  EXPECT_EQ(A::None, dormant.action);      // disabled: keeps no pending Enable
  EXPECT_EQ(A::None, lively.action);
  EXPECT_EQ(A::Uninstall, lonely.action);  // no member at all
  EXPECT_EQ(A::None, again.action);
}

TEST_F(ActionEngine, RefusesToLeaveNothingEnabled) {
  Package& a = add("a", {.action = A::Uninstall});
  Package& b = add("b", {.action = A::Disable});
  add("c", {.disabled = true});
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
  add("app", {.action = A::Enable, .disabled = true, .dependencies = {rel("lib")}});
  add("lib", {.action = A::Enable, .disabled = true});
  add("tool", {.action = A::Enable, .disabled = true, .dependencies = {rel("app")}});
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
