// A package and a bundle cut short or with one bit flipped are refused with every file system as it was and
// one error line, or (outside the signed areas) installed as the untouched file, in both kinds of run.
#include <gtest/gtest.h>

#include <thread>

#include "robustness/robustness.h"

using namespace fixtures;

namespace {

constexpr const char* kUpload = "/rw/pckg/.download/sweep.qpk";
using Ranges = std::vector<std::pair<size_t, size_t>>;

// Byte ranges covered by a signature: a package header up to the signature part's head.
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

// Runs bytes through "installer -" (piped) or the upgrade run; traced logs the file creations.
RunResult runOn(ScratchRoot& root, bool piped, const std::string& bytes, bool traced = false) {
  std::vector<std::string> wrapper;
  if (traced) wrapper = {"/usr/bin/strace", "-qq", "-o", root.path() + ".trace", "-e", "trace=?open,?openat,?creat"};
  if (piped) return robust::runBounded(root, {"-"}, bytes, wrapper);
  root.write(kUpload, bytes);
  return robust::runBounded(root, {}, "", wrapper);
}

void sweep(const std::string& name, const std::string& file, bool piped) {
  const Ranges ranges = signedRanges(file);
  // Another package is installed first, so an empty database adds no error line of its own.
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
  auto variant = [&](ScratchRoot& root, bool cut, size_t offset) {
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
    // A silent refusal is as wrong as two messages; nothing of a damaged file is ever written.
    const std::string problem = [&]() -> std::string {
      const int errors = robust::errorLines(run);
      if (robust::isAbnormal(run)) return "abnormal end";
      if (created.find("/.installer/tmp") != std::string::npos) return "a temporary was written";
      if (after == base && errors != 1) return std::to_string(errors) + " error lines";
      if (after == base) return piped && run.status == 0 ? "refused with status 0" : "";
      if (!mayInstall) return "flash changed although the change is signed or the file cut";
      if (after == expected) return piped && run.status != 0 ? "installed with a failure status" : "";
      return offset >= 8 && offset < ranges[0].first ? "" : "installed differently";  // only a bundle's own header
    }();
    EXPECT_EQ(problem, "") << name << (cut ? " cut to " : " bit flipped at ") << offset << "; status " << run.status
                           << "; output: " << run.outPlain << run.err.substr(0, 300) << "; against the installed: "
                           << ::testing::PrintToString(differences(expected, after, 5));
  };

  // Besides every 7th offset, where a reader changes state: the file header, each part's head, the end.
  std::vector<size_t> edges = {0, 1, 7, 8, file.size() - 2, file.size() - 1};
  for (const PartSpan& part : partsOf(file))
    for (size_t next : {part.offset - 1, part.offset, part.offset + 1, part.offset + 6}) edges.push_back(next);
  const std::vector<size_t> offsets = robust::sweepOffsets(file.size(), 7, edges);
  for (bool cut : {true, false}) {
    std::vector<std::thread> workers;  // two roots side by side
    for (size_t w = 0; w < 2; ++w)
      workers.emplace_back([&, w] {
        ScratchRoot root;
        for (size_t i = w; i < offsets.size(); i += 2) variant(root, cut, offsets[i]);
      });
    for (auto& worker : workers) worker.join();
  }
}

TEST(Sweep, PackageThroughTheUpgradeRun) { sweep("package", smallPackage(), false); }
TEST(Sweep, PackageThroughStandardInput) { sweep("package", smallPackage(), true); }
TEST(Sweep, BundleThroughTheUpgradeRun) { sweep("bundle", smallBundle(), false); }
TEST(Sweep, BundleThroughStandardInput) { sweep("bundle", smallBundle(), true); }

// The oracle above trusts these ranges: one per package, only the signature's data after.
TEST(Sweep, SignedAreasCoverEveryPackageHeaderPayloadAndSignatureHeader) {
  const std::string package = smallPackage();
  EXPECT_EQ(signedRanges(package), (Ranges{{8, package.size() - 132}}));
  EXPECT_EQ(signedRanges(smallBundle()).size(), 2u);
}

}  // namespace
