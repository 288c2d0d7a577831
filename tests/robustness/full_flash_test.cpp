// A "/flash" that fills up: an upgrade run on a small tmpfs flash (and a
// one-page RAM disk, so no temporary can go there instead), at every size
// from too small for the first payload file to large enough for the whole
// run, and with every number of spare inodes, so that the run meets the full
// file system at each stage in turn: payload, entry files, marker, the
// commit's own checks and record, and (with --reinstall, which skips the
// disk-space estimate) the copy of the stored image across file systems.
//
// Expected at every size: either exactly what the same run leaves on roomy
// file systems, or every file system exactly as it was, status 28 and one
// error line that says why.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "robustness/robustness.h"

using namespace fixtures;

namespace {

std::string noise(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(random());
  return out;
}

enum class Limit { Bytes, Inodes };

// Runs the upgrade of alpha 1.0 to 2.0 (two payload files and a blob, so the
// upload is kept as the stored image and its move from "/rw" onto flash is a
// copy) once for every limit from first to last. Returns the verdicts in
// order, numbers as "N" and repeats folded: "installed" or the refusal's
// error line. Anything else fails the test.
std::vector<std::string> fillUp(Limit limit, bool reinstall, int first, int last, int step) {
  ScratchRoot root;
  installFirst(root, {{"base.qpk", build(spec("alpha", "1.0", {file("/bin/alpha", "one\n")}))}});
  qpk::PackageSpec upgrade = spec("alpha", "2.0", {file("/bin/alpha", noise(24000, 1)), file("/lib/alpha.so", noise(24000, 2))});
  upgrade.blob = noise(2000, 3);
  const std::string upload = std::string(kDownload) + "alpha.qpk";
  fixtures::upload(root, "alpha.qpk", build(upgrade));
  const std::vector<std::string> args = reinstall ? std::vector<std::string>{"--reinstall"} : std::vector<std::string>{};
  const State base = snapshot(root);
  // A folder or file of the base flash takes one inode each, the tmpfs root one more.
  const size_t baseInodes = snapshot(root, {"/flash"}).size() + 1;
  // The same run on roomy file systems tells what success looks like. On
  // the tmpfs flash the upload's move crosses file systems: it is copied,
  // and a move across file systems leaves its source where it was.
  const RunResult roomy = robust::runBounded(root, args);
  EXPECT_EQ(roomy.status, 0) << roomy.outPlain;
  State installed = snapshot(root);
  EXPECT_NE(installed, base);
  installed[upload] = base.at(upload);
  // A refusal prints what the roomy run prints before its last line, then one error line.
  const std::string lead = roomy.outPlain.substr(0, roomy.outPlain.rfind('\n', roomy.outPlain.size() - 2) + 1);

  // Each limit runs in a forked child (its own mount namespace) and writes
  // its verdict as one line: the child's gtest failures would not reach us.
  const std::string outcomes = root.path() + ".outcomes";
  for (int n = first; n <= last; n += step) {
    const std::string flashSize = limit == Limit::Bytes ? std::to_string(n) + "k" : "4m,nr_inodes=" + std::to_string(baseInodes + n);
    std::vector<std::pair<std::string, std::string>> mounts = {{root.host("/flash"), flashSize}};
    if (limit == Limit::Bytes) mounts.emplace_back(root.host("/ram"), "4k");
    runIsolated([&] {
      restore(root, base);
      const RunResult run = robust::runBounded(root, args);
      const State after = snapshot(root);
      const std::string error = run.outPlain.substr(std::min(lead.size(), run.outPlain.size()));
      std::string verdict = "installed";
      if (robust::isAbnormal(run)) {
        verdict = "UNEXPECTED abnormal end";
      } else if (after == installed) {
        if (run.status != 0 || run.outPlain != roomy.outPlain) verdict = "UNEXPECTED output of an installation";
      } else if (after != base) {
        verdict = "UNEXPECTED state, against the installed one:";
        for (const std::string& d : differences(installed, after, 8)) verdict += " " + d;
      } else if (run.outPlain.compare(0, lead.size(), lead) != 0 || robust::errorLines(run) != 1 ||
                 error.find('\n') + 1 != error.size()) {
        verdict = "UNEXPECTED output of a refusal";
      } else {
        verdict = error.substr(0, error.size() - 1);
        // Only a failed disk-space estimate or commit ends the upgrade run with 28.
        if (run.status != (verdict.compare(0, 21, "ERROR: upgrade failed") == 0 ? 28 : 0)) verdict = "UNEXPECTED status";
      }
      if (verdict.compare(0, 10, "UNEXPECTED") == 0) verdict += "; status " + std::to_string(run.status) + "; " + run.outPlain;
      for (char& c : verdict) c = c == '\n' ? '|' : c;
      std::ofstream(outcomes, std::ios::app) << verdict << "\n";
    }, mounts);
  }
  std::vector<std::string> verdicts;
  std::ifstream in(outcomes);
  int n = first;
  for (std::string line; std::getline(in, line); n += step) {
    if (line.compare(0, 10, "UNEXPECTED") == 0) ADD_FAILURE() << "limit " << n << ": " << line;
    for (size_t digit = line.find_first_of("0123456789"); digit != std::string::npos; digit = line.find_first_of("0123456789", digit + 1))
      line.replace(digit, line.find_first_not_of("0123456789", digit) - digit, "N");
    if (verdicts.empty() || verdicts.back() != line) verdicts.push_back(line);
  }
  ::unlink(outcomes.c_str());
  EXPECT_EQ(n, last + step) << "a child ended without a verdict";
  return verdicts;
}

const std::string kTooSmall = "ERROR: installation of alpha-N.N failed: disk is too small";
const std::string kNoInode = "ERROR: upgrade failed: could not create ";

// Bytes run out: the payload first, then (where the estimate runs) the
// estimate refuses every size the commit would not fit.
TEST(FullFlash, EveryStageFailsCleanlyOrTheWholeUpgradeLands) {
  EXPECT_EQ(fillUp(Limit::Bytes, false, 24, 200, 4),
            (std::vector<std::string>{kTooSmall, "ERROR: upgrade failed, free N kB disk space for a upgrade", "installed"}));
}

TEST(FullFlash, WithoutTheDiskSpaceEstimateTheCommitMeetsTheFullFlash) {
  EXPECT_EQ(fillUp(Limit::Bytes, true, 24, 200, 4), (std::vector<std::string>{kTooSmall, "installed"}));
}

// Inodes run out at each creation in turn: payload and entry files, the
// changed-packages marker, a folder the commit makes, the commit's record.
const std::vector<std::string> kInodeStages = {kTooSmall, kNoInode + "/flash/PCKGS_CHANGED: No space left on device",
                                               kNoInode + "/flash/lib: No space left on device",
                                               kNoInode + "/flash/.installer/commit: No space left on device", "installed"};

TEST(FullFlash, RunningOutOfInodesAtEachCreation) { EXPECT_EQ(fillUp(Limit::Inodes, false, 0, 12, 1), kInodeStages); }

TEST(FullFlash, RunningOutOfInodesWithoutTheDiskSpaceEstimate) { EXPECT_EQ(fillUp(Limit::Inodes, true, 0, 12, 1), kInodeStages); }

}  // namespace
