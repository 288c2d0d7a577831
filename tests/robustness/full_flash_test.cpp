// An upgrade run on a tmpfs flash of any size or number of spare inodes leaves what it leaves on
// roomy file systems, or every file system as it was with one error line.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "robustness/robustness.h"

using namespace fixtures;

namespace {

std::string noise(size_t size, unsigned seed) {
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
  return out;
}

// Upgrades alpha (two files, an image) on each flash size (KiB) or spare-inode count; verdicts folded.
std::vector<std::string> fillUp(bool inodes, const std::vector<std::string>& args, int first, int last, int step) {
  ScratchRoot root;
  installFirst(root, {{"base.qpk", build(spec("alpha", "1.0", {file("/bin/alpha", "one\n")}))}});
  qpk::PackageSpec upgrade = spec("alpha", "2.0", {file("/bin/alpha", noise(24000, 1)), file("/lib/alpha.so", noise(24000, 2))});
  upgrade.blob = noise(2000, 3);
  root.write("/rw/pckg/.download/alpha.qpk", build(upgrade));
  const State base = snapshot(root);
  const size_t baseInodes = snapshot(root, {"/flash"}).size() + 1;  // and the tmpfs root
  // The upload's move onto the tmpfs flash is a copy, which keeps the source.
  const RunResult roomy = robust::runBounded(root, args);
  EXPECT_EQ(roomy.status, 0) << roomy.outPlain;
  State installed = snapshot(root);
  installed.insert(*base.find(std::string(kDownload) + "alpha.qpk"));
  // A refusal prints what the roomy run prints before its last line, then one error line.
  const std::string lead = roomy.outPlain.substr(0, roomy.outPlain.rfind('\n', roomy.outPlain.size() - 2) + 1);

  // Each limit runs in a child with its own mounts, which appends its verdict to a file.
  const std::string outcomes = root.path() + ".outcomes";
  for (int n = first; n <= last; n += step) {
    std::vector<std::pair<std::string, std::string>> mounts = {
        {root.host("/flash"), inodes ? "4m,nr_inodes=" + std::to_string(baseInodes + n) : std::to_string(n) + "k"}};
    if (!inodes) mounts.emplace_back(root.host("/ram"), "4k");  // no room for temporaries there either
    EXPECT_TRUE(runIsolated([&] {
      restore(root, base);
      const RunResult run = robust::runBounded(root, args);
      const State after = snapshot(root);
      const std::string error = run.outPlain.substr(std::min(lead.size(), run.outPlain.size()));
      const bool asRoomy = after == installed && run.status == 0 && run.outPlain == roomy.outPlain;
      // Only a failed disk-space estimate or commit ends the upgrade run with 28.
      const bool refused = after == base && run.status == (error.compare(0, 21, "ERROR: upgrade failed") ? 0 : 28) &&
                           run.outPlain.compare(0, lead.size(), lead) == 0 && error.compare(0, 7, "ERROR: ") == 0 &&
                           error.find('\n') + 1 == error.size();
      EXPECT_TRUE(!robust::isAbnormal(run) && (asRoomy || refused))
          << "limit " << n << ": status " << run.status << ", output " << run.outPlain << ", against the installed state: "
          << ::testing::PrintToString(differences(installed, after, 8));
      std::ofstream(outcomes, std::ios::app) << (asRoomy ? "installed" : error.substr(0, error.find('\n'))) << "\n";
    }, mounts)) << "limit " << n;
  }
  std::vector<std::string> verdicts;
  std::ifstream in(outcomes);
  int n = first;
  for (std::string line; std::getline(in, line); n += step) {
    line = std::regex_replace(line, std::regex("[0-9]+"), "N");
    if (verdicts.empty() || verdicts.back() != line) verdicts.push_back(line);
  }
  std::remove(outcomes.c_str());
  EXPECT_EQ(n, last + step) << "a child ended without a verdict";
  return verdicts;
}

const std::string kTooSmall = "ERROR: installation of alpha-N.N failed: disk is too small";
const std::string kNoInode = "ERROR: upgrade failed: could not create ";

// Bytes run out: the payload first, then the estimate (where it runs) refuses what would not fit.
TEST(FullFlash, EveryStageFailsCleanlyOrTheWholeUpgradeLands) {
  EXPECT_EQ(fillUp(false, {}, 24, 200, 4),
            (std::vector<std::string>{kTooSmall, "ERROR: upgrade failed, free N kB disk space for a upgrade", "installed"}));
}

TEST(FullFlash, WithoutTheDiskSpaceEstimateTheCommitMeetsTheFullFlash) {
  EXPECT_EQ(fillUp(false, {"--reinstall"}, 24, 200, 4), (std::vector<std::string>{kTooSmall, "installed"}));
}

// Inodes run out at each creation in turn: payload and entry files, the marker, a folder, the record.
const std::vector<std::string> kInodeStages = {kTooSmall, kNoInode + "/flash/PCKGS_CHANGED: No space left on device",
                                               kNoInode + "/flash/lib: No space left on device",
                                               kNoInode + "/flash/.installer/commit: No space left on device", "installed"};

TEST(FullFlash, RunningOutOfInodesAtEachCreation) { EXPECT_EQ(fillUp(true, {}, 0, 12, 1), kInodeStages); }

TEST(FullFlash, RunningOutOfInodesWithoutTheDiskSpaceEstimate) { EXPECT_EQ(fillUp(true, {"--reinstall"}, 0, 12, 1), kInodeStages); }

}  // namespace
