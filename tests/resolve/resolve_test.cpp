// The resolver: the engine's phases and walk, the indexed phases against literal scans on random
// sets, scheduled requests carried out by a real run, and whether a candidate may be installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <sstream>

#include "console/messages.h"
#include "model/matching.h"
#include "repo/repository.h"
#include "resolve/action_engine.h"
#include "resolve/action_phases.h"
#include "resolve/check_candidate.h"
#include "resolve/dependency_walk.h"
#include "resolve/ordering.h"
#include "support/fixtures.h"

namespace {

constexpr Version kV1 = makeVersion(1, 0, Final, 0);
constexpr Version kV2 = makeVersion(2, 0, Final, 0);
constexpr Version kV3 = makeVersion(3, 0, Final, 0);

Relation rel(const std::string& name, Version minVersion = 0, Version maxVersion = 0, int32_t priority = 0) {
  return Relation{name, minVersion, maxVersion, priority};
}

// One installed record, by name; "bundle" names the member's bundle.
struct Named {
  std::string name;
  struct Setup {
    PendingAction action = PendingAction::None;
    bool disabled = false, isBundle = false;
    std::string bundle{};
    std::vector<Relation> dependencies{}, provides{}, conflicts{};
    Version version = kV1; uint32_t buildTime = 100;
    const char* architecture = "";
  } setup{};
};
using Installed = Named::Setup;
using A = PendingAction;
using Actions = std::vector<A>;
using Names = std::vector<std::string>;

class ResolveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fresh();
    setConsoleStream(&console_);
  }
  void TearDown() override { setConsoleStream(nullptr); }
  static void fresh() {
    repo().reset();
    repo().architecture = "mipsbe";
    flaggedState = false;
  }
  static Repository& repo() { return Repository::instance(); }
  static void fill(PackageInfo& info, const Installed& setup) {
    info.version = setup.version;
    info.buildTime = setup.buildTime;
    info.architecture = setup.architecture;
    info.isBundle = setup.isBundle;
    info.dependencies = setup.dependencies;
    info.provides = setup.provides;
    info.conflicts = setup.conflicts;
  }
  static Package& add(const std::string& name, const Installed& setup = {}) {
    Package& package = *repo().packages.emplace_back(std::make_unique<Package>(name));
    fill(package, setup);
    package.action = setup.action;
    package.disabled = setup.disabled;
    if (!setup.bundle.empty()) package.bundle = rel(setup.bundle);
    return package;
  }
  static void addAll(const std::vector<Named>& set) {
    for (const Named& entry : set) add(entry.name, entry.setup);
  }
  static Actions actions() {
    Actions result;
    for (const auto& package : repo().packages) result.push_back(package->action);
    return result;
  }
  static const Names& log() { return repo().logLines; }
  std::ostringstream console_;
};

class ActionEngine : public ResolveTest {};

bool decide(Repository& r) { return decideActions(r, 1); }
bool bundles(Repository& r) { return propagateBundleActions(r, ProviderIndex(r)), true; }
bool emptyBundles(Repository& r) { return settleEmptyBundles(r), true; }
bool keepFirst(Repository& r) { return keepDependencies(r, *r.packages[0], 1), true; }

struct PhaseRow {
  const char* what; bool (*phase)(Repository&);
  std::vector<Named> set; Actions expected;
  Names log = {}; bool accepted = true;
};

const Installed kMember{.bundle = "suite"};
const PhaseRow kPhaseRows[] = {
    // Disable reaches members not leaving, Enable disabled members only, Uninstall every member.
    {"a bundle's action reaches its members", bundles,
     {{"suite", {.action = A::Disable, .isBundle = true}}, {"plain", kMember},
      {"leaving", {.action = A::Uninstall, .bundle = "suite"}}, {"up", {.action = A::Enable, .isBundle = true}},
      {"on", {.bundle = "up"}}, {"woke", {.disabled = true, .bundle = "up"}},
      {"gone", {.action = A::Uninstall, .isBundle = true}}, {"m-off", {.action = A::Disable, .bundle = "gone"}}},
     {A::Disable, A::Disable, A::Uninstall, A::Enable, A::None, A::Enable, A::Uninstall, A::Uninstall}},
    {"the provider of a disabled package goes and takes it along", decide,
     {{"lib", {.action = A::Uninstall}}, {"app", {.disabled = true, .dependencies = {rel("lib")}}}, {"other"}},
     {A::Uninstall, A::Uninstall, A::None}},
    {"an Enable loses to an Enable that excludes it, with a warning", decide,
     {{"a", {.action = A::Enable, .disabled = true}},
      {"b", {.action = A::Enable, .disabled = true, .conflicts = {rel("a")}}}},
     {A::None, A::Enable}, {"WARNING: can not enable a: b-1.0 conflicts with it"}},
    // Emptied bundles go, disabled ones drop a pending Enable; a member asked to be enabled keeps its bundle.
    {"bundles without active members", emptyBundles,
     {{"emptied", {.isBundle = true}}, {"m1", {.action = A::Uninstall, .bundle = "emptied"}},
      {"asleep", {.isBundle = true}}, {"m2", {.disabled = true, .bundle = "asleep"}},
      {"dormant", {.action = A::Enable, .disabled = true, .isBundle = true}},
      {"m3", {.disabled = true, .bundle = "dormant"}}, {"lively", {.isBundle = true}},
      {"m4", {.disabled = true, .bundle = "lively"}}, {"m5", {.bundle = "lively"}},
      {"lonely", {.disabled = true, .isBundle = true}}, {"again", {.isBundle = true}},
      {"m6", {.action = A::Enable, .bundle = "again"}}, {"woken", {.action = A::Enable, .disabled = true, .isBundle = true}},
      {"m7", {.action = A::Enable, .disabled = true, .bundle = "woken"}}},
     {A::Uninstall, A::Uninstall, A::Uninstall, A::None, A::None, A::None, A::None, A::None, A::None, A::Uninstall,
      A::None, A::Enable, A::Enable, A::Enable}},
    {"nothing left enabled is refused and every action dropped", decide,
     {{"a", {.action = A::Uninstall}}, {"b", {.action = A::Disable}}, {"c", {.disabled = true}}},
     {A::None, A::None, A::None}, {"ERROR: can not uninstall or disable all packages"}, false},
    {"the walk cancels a needed removal and follows the provider", keepFirst,
     {{"p", {.dependencies = {rel("q")}}}, {"q", {.action = A::Uninstall, .dependencies = {rel("r")}}},
      {"r", {.disabled = true}}},
     {A::None, A::None, A::Enable}, {"WARNING: can not uninstall q-1.0: p depends on it"}},
    {"the walk keeps a member's bundle", keepFirst,
     {{"m", kMember}, {"suite", {.action = A::Disable, .isBundle = true}}},
     {A::None, A::None}, {"WARNING: can not disable suite-1.0: m depends on it"}},
    {"a missing provider ends the package's walk; needs before it are kept", keepFirst,
     {{"p", {.dependencies = {rel("before"), rel("missing"), rel("after")}}}, {"before", {.disabled = true}},
      {"after", {.disabled = true}}},
     {A::None, A::Enable, A::None}},
    // Unrelated providers come out reversed: the last one is the first installed.
    {"the walk takes the first installed of unrelated providers", keepFirst,
     {{"p", {.dependencies = {rel("feature")}}}, {"impl-a", {.disabled = true, .provides = {rel("feature")}}},
      {"impl-b", {.disabled = true, .provides = {rel("feature")}}}},
     {A::None, A::Enable, A::None}},
};

TEST_F(ActionEngine, PhasesAndTheDependencyWalkDecide) {
  for (const PhaseRow& row : kPhaseRows) {
    fresh();
    addAll(row.set);
    EXPECT_EQ(row.accepted, row.phase(repo())) << row.what;
    EXPECT_EQ(row.expected, actions()) << row.what;
    EXPECT_EQ(row.log, log()) << row.what;
  }
}

// A chain far deeper than the call stack would allow is followed to its end.
TEST_F(ActionEngine, WalkFollowsChainsDeeperThanTheStackWouldAllow) {
  const int depth = 100000;
  add("p0", {.dependencies = {rel("p1")}});
  for (int i = 1; i < depth; ++i) {
    Package& next = add("p" + std::to_string(i), {.disabled = true});
    if (i + 1 < depth) next.dependencies = {rel("p" + std::to_string(i + 1))};
  }
  const ProviderIndex index(repo());
  keepDependencies(repo(), *repo().packages[0], 0, ProviderSource(repo(), &index));
  for (int i = 1; i < depth; ++i) ASSERT_EQ(A::Enable, repo().packages[i]->action) << i;
}

// The phases as literally described: every pair for conflicts, a rescan after every change for unmet needs.
void literalConflicts(Repository& repository) {
  auto& packages = repository.packages;
  for (size_t x = 0; x < packages.size(); ++x) {
    Package& first = *packages[x];
    if (!isActive(first)) continue;
    for (size_t y = 0; y < packages.size(); ++y) {
      Package& other = *packages[y];
      if (x == y || !(other.disabled ? other.action == A::Enable : other.action == A::None)) continue;
      if (conflictsWith(first, other)) {
        if (other.action == A::None) other.action = A::Disable;
      } else if (first.action == A::Enable && conflictsWith(other, first)) {
        if (other.action != A::None) {
          first.action = A::None;
          break;
        }
        other.action = A::Disable;
      }
    }
  }
}

void literalUnmet(Repository& repository) {
restart:
  for (auto& package : repository.packages) {
    for (const Relation& dependency : package->dependencies) {
      const int status = dependencyStatus(repository.findProviders(dependency));
      const A action = package->action;
      if (status == 1 && action != A::Uninstall) {
        package->action = A::Uninstall;
        goto restart;
      }
      if (status == 3 && action != A::Uninstall && action != A::Disable && !(package->disabled && action == A::None)) {
        package->action = A::Disable;
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
  for (int i = 4 + pick(14); i > 0; --i) {
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
    dropUnmetDependencies(repo(), ProviderIndex(repo()));
    ASSERT_EQ(expectUnmet, actions()) << "unmet dependencies, seed " << seed;
  }
}

// The ordering as literally described (every entry against every other): survivors, order, warnings.
void literalOrder(std::vector<PackageInfo*>& list, Version minimum, bool verbose) {
  std::vector<PackageInfo*> kept;
  for (PackageInfo* cur : list) {
    if (minimum != kNoMinimum && cur->version < minimum) {
      printWarning("ommitting package %s: not allowed", packageLabel(*cur).c_str());
      continue;
    }
    bool dropped = false;
    for (PackageInfo* o : list) {
      if (o == cur) continue;
      if (flaggedState && o->buildTime > cur->buildTime) {
        if (verbose) printWarning("ommiting older package %s: router in flagged state", packageLabel(*cur).c_str());
        dropped = true;
        break;
      }
      if (!isOrContains(*cur, *o) && !isOrContains(*o, *cur)) continue;
      const int r = minimum != kNoMinimum ? -compareNewer(*o, *cur) : compareNewer(*o, *cur);
      if (r > 0 && verbose) {
        printWarning(minimum == kNoMinimum ? "omitting package %s: newer package is already provided"
                                           : "omitting package %s: older package is already provided",
                     packageLabel(*cur).c_str());
      }
      dropped = r > 0 || (r == 0 && !(cur->isBundle && !o->isBundle));
      if (dropped) break;
    }
    if (!dropped) kept.push_back(cur);
  }
  list.clear();
  for (PackageInfo* x : kept) {  // after the last entry it needs or that excludes it
    const auto after = [x](PackageInfo* y) { return dependsOn(*x, *y) || conflictsWith(*y, *x); };
    list.insert(std::find_if(list.rbegin(), list.rend(), after).base(), x);
  }
}

TEST_F(ActionEngine, IndexedOrderingDecidesAsTheLiteralOne) {
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
      entry->isBundle = pick(4) == 0;
      for (int m = entry->isBundle ? 1 + pick(2) : 0; m > 0; --m) {
        fill(*entry->members.emplace_back(std::make_shared<PackageInfo>(names[pick(6)])));
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

// Uninstalls (asked for or of a broken entry) are silent; removals run last loaded first, enables in
// dependency order; choices are recorded as "user" or "auto"; a state file that no longer holds goes.
TEST(ActionStaging, SettledRequestsReachTheDatabase) {
  using namespace fixtures;
  ScratchRoot root;
  const std::map<std::string, std::string> kept = {{"lib", ""},   {"app", "lib 0 0\n"}, {"tool", ""},
                                                   {"rival", ""}, {"base", ""},         {"sleeper", "base 0 0\n"}};
  for (const auto& [name, deps] : kept) {
    installEntry(root, name, deps, name == "tool" ? "enabled" : name == "base" || name == "sleeper" ? "disabled" : "");
  }
  installEntry(root, "extra");
  installEntry(root, "junk");
  root.write("/flash/var/pdb/junk/version", "\xff\x01junk");  // a broken entry goes as well
  root.write("/flash/var/pdb/rival/conflicts", "sleeper 0 0\n");  // goes when sleeper comes
  root.write("/flash/var/pdb/base/enabled", "user\n");            // stale: "disabled" wins
  for (const auto& [name, word] : {std::pair{"lib", "uninstall"} /* refused: app needs it */, {"tool", "disable"},
                                   {"extra", "uninstall"},
                                   {"sleeper", "enable"}}) {
    root.write(std::string("/ram/pdb/") + name + "/schedule", std::string(word) + "\n");
  }
  const std::vector<std::string> order = listingOrder(root);
  const bool toolFirst = std::find(order.begin(), order.end(), "tool") < std::find(order.begin(), order.end(), "rival");

  const RunResult result = root.run({});
  EXPECT_EQ(0, result.status) << result.err;
  EXPECT_EQ(std::string("WARNING: can not uninstall lib-1.0: app depends on it\n") +
                (toolFirst ? "disabled rival-1.0\ndisabled tool-1.0\n" : "disabled tool-1.0\ndisabled rival-1.0\n") +
                "enabled base-1.0\nenabled sleeper-1.0\n",
            result.outPlain);
  EXPECT_NE(std::string::npos, result.out.find("\renabling sleeper-1.0...")) << result.out;
  std::map<std::string, std::string> expected = {
      {"/flash/PCKGS_CHANGED", ""}, {"/flash/var/pdb/tool/disabled", "user\n"},
      {"/flash/var/pdb/rival/disabled", "auto\n"}, {"/flash/var/pdb/rival/conflicts", "sleeper 0 0\n"},
      {"/flash/var/pdb/sleeper/enabled", "user\n"}};
  for (const auto& [name, deps] : kept) {
    const std::string entry = "/flash/var/pdb/" + name + "/";
    expected["/flash/bin/" + name] = "binary of " + name;
    expected[entry + "deps"] = deps;
    expected[entry + "files"] = "flash/bin/" + name + "\n";
    expected[entry + "version"] = std::to_string(version("1.0")) + " 100\n";
  }
  EXPECT_EQ(expected, flashTree(root));
}

class CheckCandidate : public ResolveTest {};

constexpr uint32_t N = kOutcomeNewer, O = kOutcomeOlder, R = kOutcomeRefused, C = kOutcomeConflicts,
                   E = kOutcomeEqual;
enum Context { kPlain, kFlagged, kMinimum, kQuiet };

struct CandidateRow {
  std::vector<Named> installed; Named candidate;
  uint32_t tolerated, outcome;
  std::string message = ""; Context context = kPlain;
};

const std::vector<Named> kA2 = {{"a", {.version = kV2}}};
const std::vector<Named> kA200 = {{"a", {.buildTime = 200}}};
const std::vector<Named> kA2AndRival = {{"a", {.version = kV2}}, {"rival", {.conflicts = {rel("a")}}}};
const std::string kMissing = "ERROR: can not install a-1.0: missing is not installed, but is required";
const std::string kArm = "ERROR: can not install a-1.0: it is not made for mipsbe, but for arm";
const std::string kNewerThere = "WARNING: omitting package a-1.0: newer package a-2.0 is already installed";

const CandidateRow kCandidateRows[] = {
    {kA2, {"a", {.version = kV3}}, 0, N},  // a plain upgrade explains nothing
    {kA2, {"a"}, 0, O, kNewerThere},
    {kA2, {"a", {.version = kV2}}, 0, E, "WARNING: omitting package a-2.0: it is already installed"},
    {{{"a"}}, {"a", {.buildTime = 101}}, 0, N},  // equal versions: the build time decides
    {{{"branding", {.buildTime = 500}}}, {"branding"}, 0, 0, "", kFlagged},  // never compared
    // Only a downgrade run explains a skipped newer package.
    {kA2, {"a", {.version = kV3}}, O, N, "WARNING: skipping downgrade: a-3.0 is newer than a-2.0(installed)"},
    // Flagged state refuses older builds whatever is tolerated; build times decide.
    {kA200, {"a", {.version = kV2, .buildTime = 150}}, ~0u, R | C | N,
     "WARNING: cannot install older a-2.0: router in flagged state", kFlagged},
    {kA200, {"a", {.buildTime = 150}}, 0, R | C | O, "WARNING: cannot install older a-1.0: router in flagged state",
     kFlagged},
    {kA200, {"a", {.buildTime = 200}}, E, E, "", kFlagged},
    // The minimum system version binds "system" and "tarnwick*" only.
    {{}, {"system"}, 0, R, "ERROR: omitting package system-1.0: min Tarnwick version is 2.0", kMinimum},
    {{}, {"tarnwick-x"}, 0, R, "ERROR: omitting package tarnwick-x-1.0: min Tarnwick version is 2.0", kMinimum},
    {{}, {"tarnwic"}, 0, 0, "", kMinimum},
    {{}, {"a", {.architecture = "arm"}}, 0, R, kArm},
    {{}, {"a", {.architecture = "mips"}}, R, R},  // a prefix is another architecture
    // Any installed provider counts; only the first missing one is named.
    {{{"lib", {.action = A::Uninstall, .disabled = true}}},
     {"a", {.dependencies = {rel("lib"), rel("x", kV2), rel("y")}}}, 0, R,
     "ERROR: can not install a-1.0: x-2.0 is not installed, but is required"},
    {{{"rival", {.disabled = true, .conflicts = {rel("a")}}}}, {"a"}, 0, 0},  // only enabled ones conflict
    {{{"rival", {.conflicts = {rel("a")}}}}, {"a"}, 0, C, "ERROR: can not install a-1.0: it conflicts with rival-1.0"},
    // Every check runs; the first untolerated outcome speaks.
    {kA2AndRival, {"a", {.dependencies = {rel("missing")}, .architecture = "arm"}}, 0, O | R | C, kNewerThere},
    {kA2AndRival, {"a", {.dependencies = {rel("missing")}}}, O, O | R | C, kMissing},
    {kA2, {"a"}, 0, O, "", kQuiet},
};

TEST_F(CheckCandidate, Decisions) {
  for (const CandidateRow& row : kCandidateRows) {
    const auto index = &row - kCandidateRows;
    fresh();
    console_.str("");
    addAll(row.installed);
    flaggedState = row.context == kFlagged;
    repo().quiet = row.context == kQuiet;
    if (row.context == kMinimum) setenv("minversion", std::to_string(kV2).c_str(), 1);
    PackageInfo candidate(row.candidate.name);
    fill(candidate, row.candidate.setup);
    EXPECT_EQ(row.outcome, checkCandidate(repo(), row.tolerated, candidate)) << "row " << index;
    EXPECT_EQ(row.message.empty() ? Names{} : Names{row.message}, log()) << "row " << index;
    if (row.context == kQuiet) { EXPECT_EQ("", console_.str()); }
    unsetenv("minversion");
  }
}

}  // namespace
