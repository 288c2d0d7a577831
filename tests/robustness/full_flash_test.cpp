// A "/flash" that fills up: an upgrade run on a small tmpfs flash (and a RAM
// disk with no room for temporaries), at every size from too small for the
// first payload file to large enough for the whole run, so that the run
// meets the full file system at each stage in turn: payload, entry files,
// marker, the commit's own checks and record, and (with --reinstall, which
// skips the disk-space estimate) the copy of the stored image across file
// systems before the commit.
//
// Expected at every size: either the whole upgrade is on flash, or flash is
// as it was, one clear error says why, and no temporary of the run is left
// on flash or in RAM.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "robustness/robustness.h"
#include "support/fixtures.h"

using namespace fixtures;

namespace {

std::string noise(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(random());
  return out;
}

// Two payload files and a blob, so the upload is kept as the stored image
// and its move from "/rw" onto flash is a copy.
std::string upgradePackage() {
  qpk::PackageSpec s = spec("alpha", "2.0", {file("/bin/alpha", noise(24000, 1)), file("/lib/alpha.so", noise(24000, 2))});
  s.blob = noise(2000, 3);
  return build(s);
}

// Everything of state below the router folder prefix.
State below(const State& state, const std::string& prefix) {
  State out;
  for (const auto& [path, entry] : state)
    if (path.compare(0, prefix.size(), prefix) == 0) out[path] = entry;
  return out;
}

std::string firstError(const RunResult& run) {
  std::istringstream lines(run.outPlain);
  for (std::string line; std::getline(lines, line);)
    if (line.compare(0, 7, "ERROR: ") == 0) return line;
  return "";
}

// What fills up: the bytes of "/flash" (with a one-page RAM disk, so no
// temporary can go there instead), or its inodes (every new file or folder
// needs one, temporaries included).
enum class Limit { Bytes, Inodes };

// Each size runs in a forked child (its own mount namespace); the child's
// verdict comes back as one line of an outcome file beside the scratch root.
void fillUp(Limit limit, bool reinstall) {
  ScratchRoot root;
  upload(root, "base.qpk", build(spec("alpha", "1.0", {file("/bin/alpha", "one\n")})));
  ASSERT_EQ(root.run({}).status, 0);
  root.remove("/rw/pckg/.download/base.qpk");
  root.remove("/flash/PCKGS_CHANGED");
  const std::string package = upgradePackage();
  upload(root, "alpha.qpk", package);
  const State base = snapshot(root);

  // The full run on roomy file systems tells what success looks like.
  State installed;
  {
    const RunResult run = robust::runBounded(root, reinstall ? std::vector<std::string>{"--reinstall"} : std::vector<std::string>{});
    ASSERT_EQ(run.status, 0) << run.outPlain;
    installed = below(snapshot(root), "/flash");
    ASSERT_NE(installed, below(base, "/flash"));
  }

  const std::string outcomes = root.path() + ".outcomes";
  // A folder or file of the base flash takes one inode each, the tmpfs root one more.
  const int baseInodes = static_cast<int>(below(base, "/flash").size()) + 1;
  const int first = limit == Limit::Bytes ? 24 : 0, last = limit == Limit::Bytes ? 200 : 12;
  const int step = limit == Limit::Bytes ? 4 : 1;
  for (int kb = first; kb <= last; kb += step) {
    // Each spare inode lets the run get one creation further.
    const std::string stage = limit == Limit::Inodes ? " (" + std::to_string(kb) + " spare inodes)" : "";
    runIsolated(
        [&] {
          restore(root, base);
          const RunResult run =
              robust::runBounded(root, reinstall ? std::vector<std::string>{"--reinstall"} : std::vector<std::string>{});
          const State after = snapshot(root);
          const State flash = below(after, "/flash");
          std::string problem, verdict;
          if (robust::isAbnormal(run)) {
            problem = "abnormal end";
          } else if (flash == installed) {
            verdict = "installed";
          } else if (flash != below(base, "/flash")) {
            problem = "flash changed part way";
          } else if (robust::errorLines(run) != 1) {
            problem = std::to_string(robust::errorLines(run)) + " error lines";
          } else if (below(after, "/ram") != below(base, "/ram")) {
            problem = "temporaries left in /ram";
          } else {
            verdict = "refused: " + firstError(run) + stage;
          }
          std::string details;
          if (!problem.empty()) {
            verdict = "UNEXPECTED: " + problem;
            details = "; status " + std::to_string(run.status) + "; output: " + run.outPlain + "; differences from the installed state:";
            for (const std::string& d : differences(installed, flash, 8)) details += " " + d;
            for (char& c : details) c = c == '\n' ? '|' : c;
          }
          // gtest expectations would not do here: the child inherits the
          // parent's failure state, so one failure would fail every later size.
          std::ofstream(outcomes, std::ios::app) << kb << "\t" << verdict << "\t" << details << "\n";
        },
        limit == Limit::Bytes
            ? std::vector<std::pair<std::string, std::string>>{{root.host("/flash"), std::to_string(kb) + "k"},
                                                               {root.host("/ram"), "4k"}}
            : std::vector<std::pair<std::string, std::string>>{
                  {root.host("/flash"), "4m,nr_inodes=" + std::to_string(baseInodes + kb)}});
  }

  std::map<std::string, int> tally;
  std::ifstream in(outcomes);
  int lines = 0;
  for (std::string line; std::getline(in, line); ++lines) {
    const size_t tab = line.find('\t'), tab2 = line.find('\t', tab + 1);
    const std::string verdict = line.substr(tab + 1, tab2 - tab - 1);
    ++tally[verdict];
    if (verdict.compare(0, 10, "UNEXPECTED") == 0)
      ADD_FAILURE() << "flash with " << line.substr(0, tab) << (limit == Limit::Bytes ? " KiB" : " inodes to spare")
                    << (reinstall ? " and --reinstall: " : ": ") << verdict
                    << line.substr(tab2 + 1);
  }
  EXPECT_EQ(lines, (last - first) / step + 1) << "a size whose child ended without a verdict";
  ::unlink(outcomes.c_str());
  std::printf("flash running out of %s%s:\n", limit == Limit::Bytes ? "bytes" : "inodes",
              reinstall ? " (--reinstall)" : "");
  for (const auto& [verdict, count] : tally) std::printf("  %3d sizes: %s\n", count, verdict.c_str());
}

TEST(FullFlash, EveryStageFailsCleanlyOrTheWholeUpgradeLands) { fillUp(Limit::Bytes, false); }

TEST(FullFlash, WithoutTheDiskSpaceEstimateTheCommitMeetsTheFullFlash) { fillUp(Limit::Bytes, true); }

TEST(FullFlash, RunningOutOfInodesAtEachCreation) { fillUp(Limit::Inodes, false); }

TEST(FullFlash, RunningOutOfInodesWithoutTheDiskSpaceEstimate) { fillUp(Limit::Inodes, true); }

}  // namespace
