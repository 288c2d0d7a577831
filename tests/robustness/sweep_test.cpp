// Bad-input sweeps through the real installer: a small signed package and a
// small signed bundle, cut at every length and with one bit flipped in every
// byte, fed to the upgrade run and to "installer -".
//
// For every variant: no crash, no hang, no sanitizer report; when anything
// reached flash, the change lay outside every signed area and flash holds
// exactly what the untouched file installs; a refusal leaves flash as it was
// and says so in at most one error line.
//
// A variant whose signed area is damaged, or that is cut, never gets a
// temporary written: its signature is checked before anything is unpacked
// (strace watches the run's file creations).
//
// Refusals without any message are counted apart: a stream whose header
// cannot be read ("installer -" with a cut or mislabelled file), and a bundle
// whose member header was damaged, are refused by exit status alone.
// Installations that differ from the untouched file's come from the bundle
// header (name, version, flags), which no signature covers: each member's
// signature starts at its own header.
//
// The normal suite visits a strided subset of the offsets;
//   INSTALLER_FULL_SWEEP=1 build/<dir>/tests/test_robustness --gtest_filter='Sweep*'
// visits every offset.
#include <gtest/gtest.h>

#include <thread>

#include "robustness/robustness.h"
#include "support/fixtures.h"

using namespace fixtures;

namespace {

constexpr const char* kUpload = "/rw/pckg/.download/sweep.qpk";

enum class Path { Upgrade, StandardInput };
enum class Change { Truncate, FlipBit };

// Byte ranges covered by a signature: from a package header (type 1) up to
// and including the header of the signature part after it.
std::vector<std::pair<size_t, size_t>> signedRanges(const std::string& file) {
  std::vector<std::pair<size_t, size_t>> ranges;
  size_t start = std::string::npos;
  for (const PartSpan& part : partsOf(file)) {
    if (part.type == PartHeader) start = part.offset;
    if (part.type == PartSignature && start != std::string::npos) ranges.emplace_back(start, part.offset + 6);
  }
  return ranges;
}

bool inside(const std::vector<std::pair<size_t, size_t>>& ranges, size_t offset) {
  for (const auto& [begin, end] : ranges)
    if (offset >= begin && offset < end) return true;
  return false;
}

struct Tally {
  int variants = 0;
  int refused = 0;
  int installed = 0;            // flash exactly as the untouched file leaves it
  int unsignedDifference = 0;   // installed differently after a change the signature does not cover
  int unexpected = 0;
  std::vector<std::string> reports;  // the first unexpected outcomes, described
};

class Sweep {
 public:
  Sweep(std::string name, std::string bytes, Path path) : name_(std::move(name)), file_(std::move(bytes)), path_(path) {
    ranges_ = signedRanges(file_);
    // The flash starts with one other package installed, so an empty
    // database never adds its own error line.
    ScratchRoot root;
    upload(root, "base.qpk", build(spec("base", "6.46.9", {file("/bin/base", "base\n")})));
    EXPECT_EQ(root.run({}).status, 0);
    root.remove("/rw/pckg/.download/base.qpk");
    root.remove("/flash/PCKGS_CHANGED");
    base_ = snapshot(root);
    const RunResult run = runOnce(root, file_);
    EXPECT_EQ(run.status, 0) << run.outPlain << run.err;
    installed_ = snapshot(root);
    installed_.erase(kUpload);
    EXPECT_NE(installed_, base_) << "the untouched " << name_ << " installs nothing";
    EXPECT_EQ(robust::errorLines(run), 0) << run.outPlain;
  }

  // Runs the variants of one change at the given offsets on two roots side by side.
  Tally run(Change change, const std::vector<size_t>& offsets) {
    Tally total;
    std::vector<Tally> tallies(2);
    std::vector<std::thread> workers;
    for (size_t w = 0; w < tallies.size(); ++w) {
      workers.emplace_back([&, w] {
        ScratchRoot root;
        for (size_t i = w; i < offsets.size(); i += tallies.size()) one(root, change, offsets[i], tallies[w]);
      });
    }
    for (auto& worker : workers) worker.join();
    for (const Tally& t : tallies) {
      total.variants += t.variants;
      total.refused += t.refused;
      total.installed += t.installed;
      total.unsignedDifference += t.unsignedDifference;
      total.unexpected += t.unexpected;
      total.reports.insert(total.reports.end(), t.reports.begin(), t.reports.end());
    }
    return total;
  }

  size_t size() const { return file_.size(); }
  bool isSigned(size_t offset) const { return inside(ranges_, offset); }

 private:
  // With trace, the run's file creations are logged to trace.
  RunResult runOnce(ScratchRoot& root, const std::string& bytes, const std::string& trace = "") const {
    std::vector<std::string> wrapper;
    if (!trace.empty()) wrapper = {"/usr/bin/strace", "-qq", "-o", trace, "-e", "trace=?open,?openat,?creat"};
    if (path_ == Path::Upgrade) {
      root.write(kUpload, bytes);
      return robust::runBounded(root, {}, "", 60, wrapper);
    }
    return robust::runBounded(root, {"-"}, bytes, 60, wrapper);
  }

  void one(ScratchRoot& root, Change change, size_t offset, Tally& tally) const {
    std::string bytes = file_;
    if (change == Change::Truncate) {
      bytes.resize(offset);
    } else {
      bytes[offset] = static_cast<char>(bytes[offset] ^ (1u << (offset % 8)));
    }
    restore(root, base_);
    // A cut file has lost its last signature, so it never installs.
    const bool mayInstall = change == Change::FlipBit && !isSigned(offset);
    const std::string trace = root.path() + ".trace";
    const RunResult run = runOnce(root, bytes, mayInstall ? "" : trace);
    const std::string created = mayInstall ? "" : readFile(trace);
    ::unlink(trace.c_str());
    State after = snapshot(root);
    // The upload itself is the test's, not the run's; an installed file that
    // keeps its upload as stored image keeps these very bytes.
    after.erase(kUpload);
    State expected = installed_;
    for (auto& [path, entry] : expected)
      if (entry == "f:" + file_) entry = "f:" + bytes;

    ++tally.variants;
    std::string problem, outcome;
    const bool changedFlash = after != base_;
    if (robust::isAbnormal(run)) {
      problem = "abnormal end, status " + std::to_string(run.status);
    } else if (!changedFlash) {
      outcome = "refused";
      // One clear message per refusal: a silent one is as wrong as two.
      if (robust::errorLines(run) == 0) problem = "refusal without a message";
      if (robust::errorLines(run) > 1) problem = "refusal with " + std::to_string(robust::errorLines(run)) + " error lines";
      if (path_ == Path::StandardInput && run.status == 0) problem = "refusal with status 0";
    } else if (!mayInstall) {
      problem = "flash changed although the change is signed or the file cut";
    } else if (after == expected) {
      outcome = "installed";
      if (path_ == Path::StandardInput && run.status != 0) problem = "installed with status " + std::to_string(run.status);
    } else {
      outcome = "installed differently";
    }
    // Signatures are checked before the payload: nothing of a damaged file is ever written.
    if (problem.empty() && created.find("/.installer/tmp") != std::string::npos) {
      problem = "a temporary was written although the change is signed or the file cut";
    }
    std::string description = name_ + (change == Change::Truncate ? " cut to " : " bit flipped at ") +
                              std::to_string(offset) + ": " + (problem.empty() ? outcome : problem) + "; status " +
                              std::to_string(run.status) + "; output: " + run.outPlain + run.err.substr(0, 300);
    for (const std::string& d : differences(expected, after, 5)) description += " " + d;
    if (std::getenv("INSTALLER_SWEEP_VERBOSE") != nullptr) std::printf("%s\n", description.c_str());
    if (!problem.empty()) {
      ++tally.unexpected;
      if (tally.reports.size() < 10) tally.reports.push_back(description);
    } else if (outcome == "refused") {
      ++tally.refused;
    } else if (outcome == "installed") {
      ++tally.installed;
    } else {
      ++tally.unsignedDifference;
    }
    // Leftovers of a refused run would show as a changed flash above; the
    // root is put back for the next variant in any case.
  }

  std::string name_;
  std::string file_;
  Path path_;
  std::vector<std::pair<size_t, size_t>> ranges_;
  State base_, installed_;
};

std::string smallPackage() {
  return build(spec("tiny", "6.46.9", {file("/bin/tiny", "#!/bin/sh\necho tiny\n", 0x81ED), file("/etc/tiny", "t=1\n")}));
}

std::string smallBundle() {
  return buildBundle(bundle("duo", "6.46.9",
                            {spec("one", "6.46.9", {file("/bin/one", "1\n")}),
                             spec("two", "6.46.9", {file("/bin/two", "2\n")})}));
}

// Every stride-th offset in the normal suite keeps the four sweeps of each
// file to a few hundred runs.
constexpr size_t kStride = 5;

void sweep(const std::string& name, const std::string& file, Path path) {
  Sweep sweep(name, file, path);
  if (::testing::Test::HasFailure()) return;
  for (Change change : {Change::Truncate, Change::FlipBit}) {
    const Tally tally = sweep.run(change, robust::sweepOffsets(sweep.size(), kStride));
    std::printf("%s, %s, %s: %d variants: %d refused, %d installed unchanged, "
                "%d installed differently (unsigned field), %d unexpected\n",
                name.c_str(), path == Path::Upgrade ? "upgrade run" : "installer -",
                change == Change::Truncate ? "truncated" : "bit flipped", tally.variants, tally.refused,
                tally.installed, tally.unsignedDifference, tally.unexpected);
    EXPECT_EQ(tally.unexpected, 0);
    for (const std::string& report : tally.reports) ADD_FAILURE() << report;
    EXPECT_EQ(tally.variants,
              tally.refused + tally.installed + tally.unsignedDifference + tally.unexpected);
  }
}

TEST(Sweep, PackageThroughTheUpgradeRun) { sweep("package", smallPackage(), Path::Upgrade); }
TEST(Sweep, PackageThroughStandardInput) { sweep("package", smallPackage(), Path::StandardInput); }
TEST(Sweep, BundleThroughTheUpgradeRun) { sweep("bundle", smallBundle(), Path::Upgrade); }
TEST(Sweep, BundleThroughStandardInput) { sweep("bundle", smallBundle(), Path::StandardInput); }

TEST(Sweep, SignedAreasCoverEveryPackageHeaderPayloadAndSignatureHeader) {
  const std::string package = smallPackage();
  const auto ranges = signedRanges(package);
  ASSERT_EQ(ranges.size(), 1u);
  EXPECT_EQ(ranges[0].first, 8u);  // the header part follows the file header
  // Only the signature data (132 bytes) lies after the signed area.
  EXPECT_EQ(ranges[0].second, package.size() - 132);
  EXPECT_EQ(signedRanges(smallBundle()).size(), 2u);
}

}  // namespace
