// A small signed package and bundle, cut short and with one bit flipped, in
// the upgrade run and "installer -". A refusal leaves every file system as it
// was and prints one error line; an installation needs a change outside the
// signed areas and leaves exactly what the untouched file leaves, or (the
// bundle's own unsigned header or member list changed) a changed bundle
// entry. A signed change or a cut never gets a temporary written. Every
// offset with INSTALLER_FULL_SWEEP=1.
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

std::string smallPackage() {
  return build(spec("tiny", "6.46.9", {file("/bin/tiny", "#!/bin/sh\necho tiny\n", 0x81ED), file("/etc/tiny", "t=1\n")}));
}

std::string smallBundle() {
  return buildBundle(bundle("duo", "6.46.9",
                            {spec("one", "6.46.9", {file("/bin/one", "1\n")}), spec("two", "6.46.9", {file("/bin/two", "2\n")})}));
}

// Runs bytes through "installer -" (piped) or the upgrade run; with traced,
// strace logs the run's file creations beside the root.
RunResult runOn(ScratchRoot& root, bool piped, const std::string& bytes, bool traced = false) {
  std::vector<std::string> wrapper;
  if (traced) wrapper = {"/usr/bin/strace", "-qq", "-o", root.path() + ".trace", "-e", "trace=?open,?openat,?creat"};
  if (piped) return robust::runBounded(root, {"-"}, bytes, wrapper);
  root.write(kUpload, bytes);
  return robust::runBounded(root, {}, "", wrapper);
}

void sweep(const std::string& name, const std::string& file, bool piped) {
  const Ranges ranges = signedRanges(file);
  // The flash starts with one other package installed, so an empty
  // database never adds its own error line; then the untouched file goes in.
  State base, installed;
  {
    ScratchRoot root;
    installFirst(root, {{"base.qpk", build(spec("base", "6.46.9", {fixtures::file("/bin/base", "base\n")}))}});
    base = snapshot(root);
    const RunResult run = runOn(root, piped, file);
    ASSERT_TRUE(run.status == 0 && robust::errorLines(run) == 0) << run.outPlain << run.err;
    installed = snapshot(root);
    installed.erase(kUpload);
    ASSERT_NE(installed, base);
  }
  // One variant: its outcome, or "UNEXPECTED" once the failure is reported.
  auto variant = [&](ScratchRoot& root, bool cut, size_t offset) -> std::string {
    std::string bytes = file;
    if (cut) bytes.resize(offset);
    else bytes[offset] = static_cast<char>(bytes[offset] ^ (1u << (offset % 8)));
    restore(root, base);
    // A cut file has lost its last signature, so it never installs.
    const bool mayInstall =
        !cut && std::none_of(ranges.begin(), ranges.end(), [&](auto& r) { return offset >= r.first && offset < r.second; });
    const RunResult run = runOn(root, piped, bytes, !mayInstall);
    const std::string created = mayInstall ? "" : readFile(root.path() + ".trace");
    std::remove((root.path() + ".trace").c_str());
    // The upload is the test's; a stored image holds the variant's bytes.
    State after = snapshot(root), expected = installed;
    after.erase(kUpload);
    for (auto& [path, entry] : expected)
      if (entry == "f:" + file) entry = "f:" + bytes;
    std::string outcome, problem;
    if (robust::isAbnormal(run)) {
      problem = "abnormal end";
    } else if (after == base) {
      outcome = "refused";  // with one clear message: a silent refusal is as wrong as two messages
      if (robust::errorLines(run) != 1) problem = std::to_string(robust::errorLines(run)) + " error lines";
      if (piped && run.status == 0) problem = "refused with status 0";
    } else if (!mayInstall) {
      problem = "flash changed although the change is signed or the file cut";
    } else if (after == expected) {
      outcome = "installed as untouched";
      if (piped && run.status != 0) problem = "installed with a failure status";
    } else if (offset >= 8 && offset < ranges[0].first) {
      outcome = "installed, bundle header changed";
    } else {
      problem = "installed differently";
    }
    // Signatures are checked before the payload: nothing of a damaged file is ever written.
    if (problem.empty() && created.find("/.installer/tmp") != std::string::npos) problem = "a temporary was written";
    if (problem.empty()) return outcome;
    ADD_FAILURE() << name << (cut ? " cut to " : " bit flipped at ") << offset << ": " << problem << "; status "
                  << run.status << "; output: " << run.outPlain << run.err.substr(0, 300) << "; against the installed: "
                  << ::testing::PrintToString(differences(expected, after, 5));
    return "UNEXPECTED";
  };

  // Where a reader changes state: the file header, each part's head and
  // data (a bundle's members are parts of it too), the last bytes. With
  // them, every 7th offset keeps a sweep to 50 (package) or 100 (bundle) runs.
  std::vector<size_t> edges = {0, 1, 7, 8, file.size() - 2, file.size() - 1};
  for (const PartSpan& part : partsOf(file))
    for (size_t next : {part.offset - 1, part.offset, part.offset + 1, part.offset + 6}) edges.push_back(next);
  const std::vector<size_t> offsets = robust::sweepOffsets(file.size(), 7, edges);
  for (bool cut : {true, false}) {
    std::map<std::string, int> counts[2];  // two roots side by side
    std::vector<std::thread> workers;
    for (size_t w = 0; w < 2; ++w) {
      workers.emplace_back([&, w] {
        ScratchRoot root;
        for (size_t i = w; i < offsets.size(); i += 2) ++counts[w][variant(root, cut, offsets[i])];
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
