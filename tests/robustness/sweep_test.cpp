// Bad-input sweeps through the real installer: a small signed package and a
// small signed bundle, cut short and with one bit flipped, fed to the
// upgrade run and to "installer -".
//
// For every variant: no crash, no hang, no sanitizer report. A refusal
// leaves every file system as it was and says so in exactly one error line.
// An installation happens only after a change outside every signed area and
// leaves exactly what the untouched file leaves; only a change to a bundle's
// own header and member list, which no signature covers (each member's
// signature starts at its own header), may install something else.
// A variant whose signed area is damaged, or that is cut, never gets a
// temporary written: its signature is checked before anything is unpacked
// (strace watches the run's file creations).
//
// The normal suite visits every stride-th offset, every part boundary and
// the bytes either side of it (a cut between two members of a bundle among
// them), and the first and last bytes;
//   INSTALLER_FULL_SWEEP=1 build/<dir>/tests/test_robustness --gtest_filter='Sweep*'
// visits every offset.
#include <gtest/gtest.h>

#include <thread>

#include "robustness/robustness.h"

using namespace fixtures;

namespace {

constexpr const char* kUpload = "/rw/pckg/.download/sweep.qpk";
using Ranges = std::vector<std::pair<size_t, size_t>>;

// Byte ranges covered by a signature: from a package header (type 1) up to
// and including the head of the signature part after it.
Ranges signedRanges(const std::string& file) {
  Ranges ranges;
  size_t start = std::string::npos;
  for (const PartSpan& part : partsOf(file)) {
    if (part.type == PartHeader) start = part.offset;
    if (part.type == PartSignature && start != std::string::npos) ranges.emplace_back(start, part.offset + 6);
  }
  return ranges;
}

bool inside(const Ranges& ranges, size_t offset) {
  for (const auto& [begin, end] : ranges)
    if (offset >= begin && offset < end) return true;
  return false;
}

// Where a reader changes state: the file header, each part's head and data
// (a bundle's members are parts of the bundle too), the last bytes.
std::vector<size_t> edges(const std::string& file) {
  std::vector<size_t> at = {0, 1, 7, 8, file.size() - 2, file.size() - 1};
  for (const PartSpan& part : partsOf(file))
    for (size_t next : {part.offset - 1, part.offset, part.offset + 1, part.offset + 6}) at.push_back(next);
  return at;
}

enum class Path { Upgrade, StandardInput };

struct Outcomes {
  std::map<std::string, int> counts;
  std::vector<std::string> problems;  // the first few, described
};

class Sweep {
 public:
  Sweep(std::string bytes, Path path) : file_(std::move(bytes)), path_(path), ranges_(signedRanges(file_)) {
    // The flash starts with one other package installed, so an empty
    // database never adds its own error line.
    ScratchRoot root;
    installFirst(root, {{"base.qpk", build(spec("base", "6.46.9", {file("/bin/base", "base\n")}))}});
    base_ = snapshot(root);
    const RunResult run = runOnce(root, file_, false);
    EXPECT_EQ(run.status, 0) << run.outPlain << run.err;
    EXPECT_EQ(robust::errorLines(run), 0) << run.outPlain;
    installed_ = snapshot(root);
    installed_.erase(kUpload);
    EXPECT_NE(installed_, base_) << "the untouched file installs nothing";
    for (const PartSpan& part : partsOf(file_))
      if (part.type == PartHeader && firstMember_ == 0) firstMember_ = part.offset;
  }

  // The variants at the given offsets, on two roots side by side.
  Outcomes run(bool cut, const std::vector<size_t>& offsets) const {
    std::vector<Outcomes> halves(2);
    std::vector<std::thread> workers;
    for (size_t w = 0; w < halves.size(); ++w) {
      workers.emplace_back([&, w] {
        ScratchRoot root;
        for (size_t i = w; i < offsets.size(); i += halves.size()) one(root, cut, offsets[i], halves[w]);
      });
    }
    for (auto& worker : workers) worker.join();
    for (const auto& [outcome, count] : halves[1].counts) halves[0].counts[outcome] += count;
    halves[0].problems.insert(halves[0].problems.end(), halves[1].problems.begin(), halves[1].problems.end());
    return halves[0];
  }

 private:
  // With traced, the run's file creations are logged beside the root.
  RunResult runOnce(ScratchRoot& root, const std::string& bytes, bool traced) const {
    std::vector<std::string> wrapper;
    if (traced) wrapper = {"/usr/bin/strace", "-qq", "-o", root.path() + ".trace", "-e", "trace=?open,?openat,?creat"};
    if (path_ == Path::StandardInput) return robust::runBounded(root, {"-"}, bytes, 60, wrapper);
    root.write(kUpload, bytes);
    return robust::runBounded(root, {}, "", 60, wrapper);
  }

  void one(ScratchRoot& root, bool cut, size_t offset, Outcomes& outcomes) const {
    std::string bytes = file_;
    if (cut) bytes.resize(offset);
    else bytes[offset] = static_cast<char>(bytes[offset] ^ (1u << (offset % 8)));
    restore(root, base_);
    // A cut file has lost its last signature, so it never installs.
    const bool mayInstall = !cut && !inside(ranges_, offset);
    const RunResult run = runOnce(root, bytes, !mayInstall);
    const std::string created = mayInstall ? "" : readFile(root.path() + ".trace");
    ::unlink((root.path() + ".trace").c_str());
    State after = snapshot(root);
    // The upload itself is the test's; an installation that keeps it as the
    // stored image keeps these very bytes.
    after.erase(kUpload);
    State expected = installed_;
    for (auto& [path, entry] : expected)
      if (entry == "f:" + file_) entry = "f:" + bytes;

    std::string outcome, problem;
    if (robust::isAbnormal(run)) {
      problem = "abnormal end";
    } else if (after == base_) {
      outcome = "refused";
      // One clear message per refusal: a silent one is as wrong as two.
      if (robust::errorLines(run) != 1) problem = std::to_string(robust::errorLines(run)) + " error lines";
      if (path_ == Path::StandardInput && run.status == 0) problem = "refused with status 0";
    } else if (!mayInstall) {
      problem = "flash changed although the change is signed or the file cut";
    } else if (after == expected) {
      outcome = "installed as untouched";
      if (path_ == Path::StandardInput && run.status != 0) problem = "installed with a failure status";
    } else if (offset >= 8 && offset < firstMember_) {
      outcome = "installed, bundle header changed";
    } else {
      problem = "installed differently";
    }
    // Signatures are checked before the payload: nothing of a damaged file is ever written.
    if (problem.empty() && created.find("/.installer/tmp") != std::string::npos) problem = "a temporary was written";
    ++outcomes.counts[problem.empty() ? outcome : "UNEXPECTED"];
    if (problem.empty() || outcomes.problems.size() >= 10) return;
    std::string description = (cut ? "cut to " : "bit flipped at ") + std::to_string(offset) + ": " + problem +
                              "; status " + std::to_string(run.status) + "; output: " + run.outPlain + run.err.substr(0, 300);
    for (const std::string& d : differences(expected, after, 5)) description += " " + d;
    outcomes.problems.push_back(description);
  }

  std::string file_;
  Path path_;
  Ranges ranges_;
  State base_, installed_;
  size_t firstMember_ = 0;
};

std::string smallPackage() {
  return build(spec("tiny", "6.46.9", {file("/bin/tiny", "#!/bin/sh\necho tiny\n", 0x81ED), file("/etc/tiny", "t=1\n")}));
}

std::string smallBundle() {
  return buildBundle(bundle("duo", "6.46.9",
                            {spec("one", "6.46.9", {file("/bin/one", "1\n")}), spec("two", "6.46.9", {file("/bin/two", "2\n")})}));
}

// With the edges, every 7th offset keeps a sweep to 50 (package) or 100 (bundle) runs.
void sweep(const std::string& name, const std::string& file, Path path) {
  const Sweep sweep(file, path);
  if (::testing::Test::HasFailure()) return;
  for (bool cut : {true, false}) {
    const Outcomes outcomes = sweep.run(cut, robust::sweepOffsets(file.size(), 7, edges(file)));
    std::printf("%s, %s, %s:", name.c_str(), path == Path::Upgrade ? "upgrade run" : "installer -", cut ? "cut" : "bit flip");
    for (const auto& [outcome, count] : outcomes.counts) std::printf(" %d %s;", count, outcome.c_str());
    std::printf("\n");
    for (const std::string& problem : outcomes.problems) ADD_FAILURE() << name << " " << problem;
  }
}

TEST(Sweep, PackageThroughTheUpgradeRun) { sweep("package", smallPackage(), Path::Upgrade); }
TEST(Sweep, PackageThroughStandardInput) { sweep("package", smallPackage(), Path::StandardInput); }
TEST(Sweep, BundleThroughTheUpgradeRun) { sweep("bundle", smallBundle(), Path::Upgrade); }
TEST(Sweep, BundleThroughStandardInput) { sweep("bundle", smallBundle(), Path::StandardInput); }

// The oracle above trusts these ranges: one per package, from the header
// part after the file header to the signature's head, only its data after.
TEST(Sweep, SignedAreasCoverEveryPackageHeaderPayloadAndSignatureHeader) {
  const std::string package = smallPackage();
  EXPECT_EQ(signedRanges(package), (Ranges{{8, package.size() - 132}}));
  EXPECT_EQ(signedRanges(smallBundle()).size(), 2u);
}

}  // namespace
