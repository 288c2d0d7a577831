// A small signed package and a small signed bundle, cut short and with one
// bit flipped, through the upgrade run and "installer -". Every variant ends
// normally; a refusal leaves every file system as it was, with one error
// line; an installation needs a change outside every signed area and leaves
// exactly what the untouched file leaves, or (a change to a bundle's own
// header or member list, which no signature covers) a changed bundle entry.
// A signed change or a cut never gets a temporary written (strace watches).
// Offsets: every 7th, every part boundary and its neighbours, the first and
// last bytes; every offset with INSTALLER_FULL_SWEEP=1.
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
  return std::any_of(ranges.begin(), ranges.end(), [&](const auto& r) { return offset >= r.first && offset < r.second; });
}

// Where a reader changes state: the file header, each part's head and data
// (a bundle's members are parts of the bundle too), the last bytes.
std::vector<size_t> edges(const std::string& file) {
  std::vector<size_t> at = {0, 1, 7, 8, file.size() - 2, file.size() - 1};
  for (const PartSpan& part : partsOf(file))
    for (size_t next : {part.offset - 1, part.offset, part.offset + 1, part.offset + 6}) at.push_back(next);
  return at;
}

struct Subject {
  std::string file;
  bool piped;  // through "installer -", else the upgrade run
  Ranges ranges;
  State base, installed;
};

// With traced, the run's file creations are logged beside the root.
RunResult runOn(ScratchRoot& root, const Subject& s, const std::string& bytes, bool traced) {
  std::vector<std::string> wrapper;
  if (traced) wrapper = {"/usr/bin/strace", "-qq", "-o", root.path() + ".trace", "-e", "trace=?open,?openat,?creat"};
  if (s.piped) return robust::runBounded(root, {"-"}, bytes, wrapper);
  root.write(kUpload, bytes);
  return robust::runBounded(root, {}, "", wrapper);
}

// The flash starts with one other package installed, so an empty database
// never adds its own error line; then the untouched file goes in.
Subject subject(const std::string& file, bool piped) {
  Subject s{file, piped, signedRanges(file), {}, {}};
  ScratchRoot root;
  installFirst(root, {{"base.qpk", build(spec("base", "6.46.9", {fixtures::file("/bin/base", "base\n")}))}});
  s.base = snapshot(root);
  const RunResult run = runOn(root, s, file, false);
  EXPECT_EQ(run.status, 0) << run.outPlain << run.err;
  EXPECT_EQ(robust::errorLines(run), 0) << run.outPlain;
  s.installed = snapshot(root);
  s.installed.erase(kUpload);
  EXPECT_NE(s.installed, s.base) << "the untouched file installs nothing";
  return s;
}

// Runs one variant on root and returns its outcome; a wrong one fails the test.
std::string variant(ScratchRoot& root, const Subject& s, bool cut, size_t offset) {
  std::string bytes = s.file;
  if (cut) bytes.resize(offset);
  else bytes[offset] = static_cast<char>(bytes[offset] ^ (1u << (offset % 8)));
  restore(root, s.base);
  // A cut file has lost its last signature, so it never installs.
  const bool mayInstall = !cut && !inside(s.ranges, offset);
  const RunResult run = runOn(root, s, bytes, !mayInstall);
  const std::string created = mayInstall ? "" : readFile(root.path() + ".trace");
  ::unlink((root.path() + ".trace").c_str());
  State after = snapshot(root);
  // The upload itself is the test's; an installation that keeps it as the
  // stored image keeps these very bytes.
  after.erase(kUpload);
  State expected = s.installed;
  for (auto& [path, entry] : expected)
    if (entry == "f:" + s.file) entry = "f:" + bytes;

  std::string outcome, problem;
  if (robust::isAbnormal(run)) {
    problem = "abnormal end";
  } else if (after == s.base) {
    outcome = "refused";
    // One clear message per refusal: a silent one is as wrong as two.
    if (robust::errorLines(run) != 1) problem = std::to_string(robust::errorLines(run)) + " error lines";
    if (s.piped && run.status == 0) problem = "refused with status 0";
  } else if (!mayInstall) {
    problem = "flash changed although the change is signed or the file cut";
  } else if (after == expected) {
    outcome = "installed as untouched";
    if (s.piped && run.status != 0) problem = "installed with a failure status";
  } else if (offset >= 8 && offset < s.ranges[0].first) {
    outcome = "installed, bundle header changed";
  } else {
    problem = "installed differently";
  }
  // Signatures are checked before the payload: nothing of a damaged file is ever written.
  if (problem.empty() && created.find("/.installer/tmp") != std::string::npos) problem = "a temporary was written";
  if (problem.empty()) return outcome;
  std::string report;
  for (const std::string& d : differences(expected, after, 5)) report += " " + d;
  ADD_FAILURE() << (cut ? "cut to " : "bit flipped at ") << offset << ": " << problem << "; status " << run.status
                << "; output: " << run.outPlain << run.err.substr(0, 300) << report;
  return "UNEXPECTED";
}

std::string smallPackage() {
  return build(spec("tiny", "6.46.9", {file("/bin/tiny", "#!/bin/sh\necho tiny\n", 0x81ED), file("/etc/tiny", "t=1\n")}));
}

std::string smallBundle() {
  return buildBundle(bundle("duo", "6.46.9",
                            {spec("one", "6.46.9", {file("/bin/one", "1\n")}), spec("two", "6.46.9", {file("/bin/two", "2\n")})}));
}

// With the edges, every 7th offset keeps a sweep to 50 (package) or 100
// (bundle) runs, shared by two roots side by side.
void sweep(const std::string& name, const std::string& file, bool piped) {
  const Subject s = subject(file, piped);
  if (::testing::Test::HasFailure()) return;
  const std::vector<size_t> offsets = robust::sweepOffsets(file.size(), 7, edges(file));
  for (bool cut : {true, false}) {
    std::map<std::string, int> counts[2];
    std::vector<std::thread> workers;
    for (size_t w = 0; w < 2; ++w) {
      workers.emplace_back([&, w] {
        ScratchRoot root;
        for (size_t i = w; i < offsets.size(); i += 2) ++counts[w][variant(root, s, cut, offsets[i])];
      });
    }
    for (auto& worker : workers) worker.join();
    for (const auto& [outcome, count] : counts[1]) counts[0][outcome] += count;
    std::printf("%s, %s, %s:", name.c_str(), piped ? "installer -" : "upgrade run", cut ? "cut" : "bit flip");
    for (const auto& [outcome, count] : counts[0]) std::printf(" %d %s;", count, outcome.c_str());
    std::printf("\n");
  }
}

TEST(Sweep, PackageThroughTheUpgradeRun) { sweep("package", smallPackage(), false); }
TEST(Sweep, PackageThroughStandardInput) { sweep("package", smallPackage(), true); }
TEST(Sweep, BundleThroughTheUpgradeRun) { sweep("bundle", smallBundle(), false); }
TEST(Sweep, BundleThroughStandardInput) { sweep("bundle", smallBundle(), true); }

// The oracle above trusts these ranges: one per package, from the header
// part after the file header to the signature's head, only its data after.
TEST(Sweep, SignedAreasCoverEveryPackageHeaderPayloadAndSignatureHeader) {
  const std::string package = smallPackage();
  EXPECT_EQ(signedRanges(package), (Ranges{{8, package.size() - 132}}));
  EXPECT_EQ(signedRanges(smallBundle()).size(), 2u);
}

}  // namespace
