// The candidates of a run: whether one may be installed (the outcome bits
// and the one message a check prints, for the first outcome the caller does
// not tolerate), and the indexed ordering against the literal one on random
// lists (bundles, flagged state, downgrades, quiet runs): which entries
// survive, in what order, with what warnings.
#include <cstdlib>
#include <memory>
#include <random>

#include "model/matching.h"
#include "resolve/ordering.h"
#include "resolve_fixture.h"

namespace {

class CheckCandidate : public ResolveTest {};

constexpr uint32_t N = kOutcomeNewer, O = kOutcomeOlder, R = kOutcomeRefused, C = kOutcomeConflicts,
                   E = kOutcomeEqual;
enum Context { kPlain, kFlagged, kMinimum, kQuiet };

struct Candidate {
  const char* name;
  Version version = kV1;
  uint32_t buildTime = 100;
  const char* architecture = "";
  std::vector<Relation> dependencies = {};
};
struct Row {
  std::vector<Named> installed;
  Candidate candidate;
  uint32_t tolerated, outcome;
  std::string message = "";
  Context context = kPlain;
};

const std::vector<Named> kA2 = {{"a", {.version = kV2}}};
const std::vector<Named> kA200 = {{"a", {.buildTime = 200}}};
const std::vector<Named> kA2AndRival = {{"a", {.version = kV2}}, {"rival", {.conflicts = {rel("a")}}}};
const std::string kMissing = "ERROR: can not install a-1.0: missing is not installed, but is required";
const std::string kArm = "ERROR: can not install a-1.0: it is not made for mipsbe, but for arm";
const std::string kNewerThere = "WARNING: omitting package a-1.0: newer package a-2.0 is already installed";

const Row kRows[] = {
    {kA2, {"b"}, 0, 0},
    {kA2, {"a", kV3}, 0, N},  // a plain upgrade explains nothing
    {kA2, {"a"}, 0, O, kNewerThere},
    {kA2, {"a", kV2}, 0, E, "WARNING: omitting package a-2.0: it is already installed"},
    {kA2, {"a"}, O, O},
    {{{"a"}}, {"a", kV1, 101}, 0, N},  // equal versions: the build time decides
    {{{"a"}}, {"a", kV1, 99}, O, O},
    {{{"branding", {.buildTime = 500}}}, {"branding"}, 0, 0, "", kFlagged},  // never compared
    // Only a downgrade run explains a skipped newer package.
    {kA2, {"a", kV3}, O, N, "WARNING: skipping downgrade: a-3.0 is newer than a-2.0(installed)"},
    // Flagged state refuses older builds whatever is tolerated; build times decide.
    {kA200, {"a", kV2, 150}, ~0u, R | C | N, "WARNING: cannot install older a-2.0: router in flagged state", kFlagged},
    {kA200, {"a", kV1, 150}, 0, R | C | O, "WARNING: cannot install older a-1.0: router in flagged state", kFlagged},
    {kA200, {"a", kV1, 200}, E, E, "", kFlagged},
    // The minimum system version binds "system" and "tarnwick*" only.
    {{}, {"system"}, 0, R, "ERROR: omitting package system-1.0: min Tarnwick version is 2.0", kMinimum},
    {{}, {"tarnwick-x"}, 0, R, "ERROR: omitting package tarnwick-x-1.0: min Tarnwick version is 2.0", kMinimum},
    {{}, {"tarnwick", kV2}, 0, 0, "", kMinimum},
    {{}, {"systemd"}, 0, 0, "", kMinimum},
    {{}, {"tarnwic"}, 0, 0, "", kMinimum},
    {{}, {"a", kV1, 100, "arm"}, 0, R, kArm},
    {{}, {"a", kV1, 100, "mipsbe"}, 0, 0},
    {{}, {"a", kV1, 100, "mips"}, R, R},  // a prefix is another architecture
    // Any installed provider counts; only the first missing one is named.
    {{{"lib", {.action = A::Uninstall, .disabled = true}}},
     {"a", kV1, 100, "", {rel("lib"), rel("x", kV2), rel("y")}}, 0, R,
     "ERROR: can not install a-1.0: x-2.0 is not installed, but is required"},
    {{{"rival", {.disabled = true, .conflicts = {rel("a")}}}}, {"a"}, 0, 0},  // only enabled ones conflict
    {{{"rival", {.conflicts = {rel("a")}}}}, {"a"}, 0, C, "ERROR: can not install a-1.0: it conflicts with rival-1.0"},
    {{{"rival", {.conflicts = {rel("a")}}}}, {"a"}, C, C},
    // Every check runs; the first untolerated outcome speaks.
    {kA2AndRival, {"a", kV1, 100, "arm", {rel("missing")}}, 0, O | R | C, kNewerThere},
    {kA2AndRival, {"a", kV1, 100, "arm", {rel("missing")}}, O, O | R | C, kArm},
    {kA2AndRival, {"a", kV1, 100, "", {rel("missing")}}, O, O | R | C, kMissing},
    {kA2, {"a"}, 0, O, "", kQuiet},
};

TEST_F(CheckCandidate, Decisions) {
  int index = 0;
  for (const Row& row : kRows) {
    fresh();
    console_.str("");
    addAll(row.installed);
    flaggedState = row.context == kFlagged;
    repo().quiet = row.context == kQuiet;
    if (row.context == kMinimum) setenv("minversion", std::to_string(kV2).c_str(), 1);
    PackageInfo candidate(row.candidate.name);
    candidate.version = row.candidate.version;
    candidate.buildTime = row.candidate.buildTime;
    candidate.architecture = row.candidate.architecture;
    candidate.dependencies = row.candidate.dependencies;
    EXPECT_EQ(row.outcome, checkCandidate(repo(), row.tolerated, candidate)) << "row " << index;
    EXPECT_EQ(row.message.empty() ? Names{} : Names{row.message}, log()) << "row " << index;
    if (row.context == kQuiet) { EXPECT_EQ("", console_.str()); }
    unsetenv("minversion");
    ++index;
  }
}

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
