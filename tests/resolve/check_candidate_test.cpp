#include <cstdlib>

#include "resolve/check_candidate.h"
#include "resolve_fixture.h"

namespace {

class CheckCandidate : public ResolveTest {
 protected:
  void TearDown() override {
    unsetenv("minversion");
    ResolveTest::TearDown();
  }
  static PackageInfo candidate(const std::string& name, Version version = kV1, uint32_t buildTime = 100) {
    PackageInfo info(name);
    info.version = version;
    info.buildTime = buildTime;
    return info;
  }
};

TEST_F(CheckCandidate, ComparesWithTheInstalledPackageOfTheSameName) {
  add("a", kV2);
  EXPECT_EQ(0u, checkCandidate(repo(), 0, candidate("b")));
  EXPECT_EQ(kOutcomeNewer, checkCandidate(repo(), 0, candidate("a", kV3)));
  EXPECT_TRUE(log().empty());  // a plain upgrade explains nothing

  EXPECT_EQ(kOutcomeOlder, checkCandidate(repo(), 0, candidate("a", kV1)));
  EXPECT_EQ(kOutcomeEqual, checkCandidate(repo(), 0, candidate("a", kV2)));
  ASSERT_EQ(2u, log().size());
  EXPECT_EQ("WARNING: omitting package a-1.0: newer package a-2.0 is already installed", log()[0]);
  EXPECT_EQ("WARNING: omitting package a-2.0: it is already installed", log()[1]);

  // Tolerated outcomes are reported in the result but not printed.
  EXPECT_EQ(kOutcomeOlder, checkCandidate(repo(), kOutcomeOlder, candidate("a", kV1)));
  EXPECT_EQ(kOutcomeEqual, checkCandidate(repo(), kOutcomeEqual, candidate("a", kV2)));
  EXPECT_EQ(2u, log().size());
}

TEST_F(CheckCandidate, EqualVersionIsDecidedByBuildTimeAndBrandingNeverCompared) {
  add("a", kV1, 100);
  EXPECT_EQ(kOutcomeNewer, checkCandidate(repo(), 0, candidate("a", kV1, 101)));
  EXPECT_EQ(kOutcomeOlder, checkCandidate(repo(), kOutcomeOlder, candidate("a", kV1, 99)));
  add("branding", kV1, 500);
  flaggedState = true;
  EXPECT_EQ(0u, checkCandidate(repo(), 0, candidate("branding", kV1, 100)));
  EXPECT_TRUE(log().empty());
}

TEST_F(CheckCandidate, DowngradeRunExplainsASkippedNewerPackage) {
  add("a", kV2);
  EXPECT_EQ(kOutcomeNewer, checkCandidate(repo(), kOutcomeOlder, candidate("a", kV3)));
  ASSERT_EQ(1u, log().size());
  EXPECT_EQ("WARNING: skipping downgrade: a-3.0 is newer than a-2.0(installed)", log()[0]);
  EXPECT_EQ(kOutcomeNewer, checkCandidate(repo(), kOutcomeOlder | kOutcomeNewer, candidate("a", kV3)));
  EXPECT_EQ(1u, log().size());
}

TEST_F(CheckCandidate, FlaggedStateRefusesOlderBuildsWhateverIsTolerated) {
  add("a", kV1, 200);
  flaggedState = true;
  // A higher version built earlier is still refused: build times decide.
  EXPECT_EQ(kOutcomeRefused | kOutcomeConflicts | kOutcomeNewer,
            checkCandidate(repo(), 0xFFFFFFFFu, candidate("a", kV2, 150)));
  EXPECT_EQ(kOutcomeRefused | kOutcomeConflicts | kOutcomeOlder, checkCandidate(repo(), 0, candidate("a", kV1, 150)));
  ASSERT_EQ(2u, log().size());
  EXPECT_EQ("WARNING: cannot install older a-2.0: router in flagged state", log()[0]);
  EXPECT_EQ("WARNING: cannot install older a-1.0: router in flagged state", log()[1]);  // the only message

  EXPECT_EQ(kOutcomeEqual, checkCandidate(repo(), kOutcomeEqual, candidate("a", kV1, 200)));
  EXPECT_EQ(2u, log().size());
}

TEST_F(CheckCandidate, MinimumSystemVersionAppliesToSystemAndTarnwickNames) {
  setenv("minversion", std::to_string(kV2).c_str(), 1);
  for (const char* name : {"system", "tarnwick", "tarnwick-extra"}) {
    EXPECT_EQ(kOutcomeRefused, checkCandidate(repo(), 0, candidate(name, kV1))) << name;
    EXPECT_EQ(0u, checkCandidate(repo(), 0, candidate(name, kV2))) << name;
  }
  for (const char* name : {"systemd", "system2", "tarnwic", "sys"}) {
    EXPECT_EQ(0u, checkCandidate(repo(), 0, candidate(name, kV1))) << name;
  }
  ASSERT_EQ(3u, log().size());
  EXPECT_EQ("ERROR: omitting package system-1.0: min Tarnwick version is 2.0", log()[0]);
  EXPECT_EQ(kOutcomeRefused, checkCandidate(repo(), kOutcomeRefused, candidate("system", kV1)));
  EXPECT_EQ(3u, log().size());
}

TEST_F(CheckCandidate, ArchitectureMustMatchWhenGiven) {
  PackageInfo other = candidate("a");
  other.architecture = "arm";
  EXPECT_EQ(kOutcomeRefused, checkCandidate(repo(), 0, other));
  ASSERT_EQ(1u, log().size());
  EXPECT_EQ("ERROR: can not install a-1.0: it is not made for mipsbe, but for arm", log()[0]);
  other.architecture = "mipsbe";
  EXPECT_EQ(0u, checkCandidate(repo(), 0, other));
  other.architecture = "";
  EXPECT_EQ(0u, checkCandidate(repo(), 0, other));
  other.architecture = "mips";  // a prefix is another architecture
  EXPECT_EQ(kOutcomeRefused, checkCandidate(repo(), kOutcomeRefused, other));
}

TEST_F(CheckCandidate, OnlyTheFirstMissingDependencyIsReported) {
  add("lib", {.action = A::Uninstall, .disabled = true});  // still counts here
  PackageInfo info = candidate("a");
  info.dependencies = {rel("lib"), rel("x", kV2), rel("y")};
  EXPECT_EQ(kOutcomeRefused, checkCandidate(repo(), 0, info));
  ASSERT_EQ(1u, log().size());
  EXPECT_EQ("ERROR: can not install a-1.0: x-2.0 is not installed, but is required", log()[0]);
}

TEST_F(CheckCandidate, ConflictsCountOnlyWithEnabledPackages) {
  Package& rival = add("rival", {.disabled = true, .conflicts = {rel("a")}});
  EXPECT_EQ(0u, checkCandidate(repo(), 0, candidate("a")));
  rival.disabled = false;
  EXPECT_EQ(kOutcomeConflicts, checkCandidate(repo(), 0, candidate("a")));
  ASSERT_EQ(1u, log().size());
  EXPECT_EQ("ERROR: can not install a-1.0: it conflicts with rival-1.0", log()[0]);
  EXPECT_EQ(kOutcomeConflicts, checkCandidate(repo(), kOutcomeConflicts, candidate("a")));
  EXPECT_EQ(1u, log().size());
}

TEST_F(CheckCandidate, PrintsOnlyTheFirstUntoleratedOutcome) {
  add("a", kV2);
  add("rival", {.conflicts = {rel("a")}});
  PackageInfo info = candidate("a", kV1);
  info.architecture = "arm";
  info.dependencies = {rel("missing")};
  EXPECT_EQ(kOutcomeOlder | kOutcomeRefused | kOutcomeConflicts, checkCandidate(repo(), 0, info));
  ASSERT_EQ(1u, log().size());
  EXPECT_EQ("WARNING: omitting package a-1.0: newer package a-2.0 is already installed", log()[0]);

  // With the first outcome tolerated, the next one speaks; later ones stay silent.
  EXPECT_EQ(kOutcomeOlder | kOutcomeRefused | kOutcomeConflicts, checkCandidate(repo(), kOutcomeOlder, info));
  ASSERT_EQ(2u, log().size());
  EXPECT_EQ("ERROR: can not install a-1.0: it is not made for mipsbe, but for arm", log()[1]);

  info.architecture.clear();
  EXPECT_EQ(kOutcomeOlder | kOutcomeRefused | kOutcomeConflicts, checkCandidate(repo(), kOutcomeOlder, info));
  ASSERT_EQ(3u, log().size());
  EXPECT_EQ("ERROR: can not install a-1.0: missing is not installed, but is required", log()[2]);
}

TEST_F(CheckCandidate, QuietRunPrintsNothing) {
  add("a", kV2);
  repo().quiet = true;
  EXPECT_EQ(kOutcomeOlder, checkCandidate(repo(), 0, candidate("a", kV1)));
  EXPECT_TRUE(log().empty());
  EXPECT_EQ("", console());
}

}  // namespace
