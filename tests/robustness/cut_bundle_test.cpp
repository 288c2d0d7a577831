// A bundle cut exactly between two members, piped to "installer -": the
// reader meets the end of the stream where the next member header would be,
// which looks like the end of a complete bundle. The file header declares
// the full length, so the cut shows; the bundle must be refused as a whole.
#include <gtest/gtest.h>

#include "platform/endian.h"
#include "robustness/flash_state.h"
#include "support/fixtures.h"

using namespace fixtures;

namespace {

// Offset of the second type-1 part header: the cut that leaves one whole member.
size_t secondMemberOffset(const std::string& file) {
  int headers = 0;
  for (size_t at = 8; at + 6 <= file.size();) {
    const auto* p = reinterpret_cast<const uint8_t*>(file.data() + at);
    if (decodeFixed16(p) == 1 && ++headers == 2) return at;
    at += 6 + static_cast<size_t>(decodeFixed32(p + 2));
  }
  return 0;
}

TEST(CutBundle, ThroughStandardInputAtAMemberBoundaryInstallsNothing) {
  const std::string bundleFile = buildBundle(bundle(
      "duo", "6.46.9", {spec("one", "6.46.9", {file("/bin/one", "1\n")}), spec("two", "6.46.9", {file("/bin/two", "2\n")})}));
  const size_t boundary = secondMemberOffset(bundleFile);
  ASSERT_GT(boundary, 0u);
  for (size_t cut : {boundary, boundary + 3}) {
    ScratchRoot root;
    const robust::State before = robust::snapshot(root);
    const RunResult run = robust::runBounded(root, {"-"}, bundleFile.substr(0, cut));
    EXPECT_NE(run.status, 0) << "cut at " << cut << ": " << run.outPlain;
    EXPECT_EQ(robust::differences(before, robust::snapshot(root)), std::vector<std::string>{}) << "cut at " << cut;
  }
}

TEST(CutBundle, ThroughTheUpgradeRunIsABrokenPackage) {
  const std::string bundleFile = buildBundle(bundle(
      "duo", "6.46.9", {spec("one", "6.46.9", {file("/bin/one", "1\n")}), spec("two", "6.46.9", {file("/bin/two", "2\n")})}));
  ScratchRoot root;
  upload(root, "base.qpk", build(spec("base", "6.46.9", {file("/bin/base", "base\n")})));
  ASSERT_EQ(root.run({}).status, 0);
  root.remove("/rw/pckg/.download/base.qpk");
  const robust::State before = robust::snapshot(root);
  root.write("/rw/pckg/.download/duo.qpk", bundleFile.substr(0, secondMemberOffset(bundleFile)));
  const RunResult run = robust::runBounded(root, {});
  EXPECT_TRUE(hasLine(run.outPlain, "ERROR: broken package duo.qpk")) << run.outPlain;
  robust::State after = robust::snapshot(root);
  after.erase("/rw/pckg/.download/duo.qpk");
  EXPECT_EQ(robust::differences(before, after), std::vector<std::string>{});
}

}  // namespace
