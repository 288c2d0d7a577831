// A bundle cut exactly between two members, piped to "installer -": the
// reader meets the end of the stream where the next member header would be,
// which looks like the end of a complete bundle. The file header declares
// the full length, so the cut shows; the bundle must be refused as a whole.
#include <gtest/gtest.h>

#include "robustness/robustness.h"
#include "support/fixtures.h"

using namespace fixtures;

namespace {

// Offset of the second package header part: the cut that leaves one whole member.
size_t secondMemberOffset(const std::string& file) {
  int headers = 0;
  for (const PartSpan& part : partsOf(file))
    if (part.type == PartHeader && ++headers == 2) return part.offset;
  return 0;
}

TEST(CutBundle, ThroughStandardInputAtAMemberBoundaryInstallsNothing) {
  const std::string bundleFile = buildBundle(bundle(
      "duo", "6.46.9", {spec("one", "6.46.9", {file("/bin/one", "1\n")}), spec("two", "6.46.9", {file("/bin/two", "2\n")})}));
  const size_t boundary = secondMemberOffset(bundleFile);
  ASSERT_GT(boundary, 0u);
  for (size_t cut : {boundary, boundary + 3}) {
    ScratchRoot root;
    const State before = snapshot(root);
    const RunResult run = robust::runBounded(root, {"-"}, bundleFile.substr(0, cut));
    EXPECT_NE(run.status, 0) << "cut at " << cut << ": " << run.outPlain;
    EXPECT_EQ(differences(before, snapshot(root)), std::vector<std::string>{}) << "cut at " << cut;
  }
}

TEST(CutBundle, ThroughTheUpgradeRunIsABrokenPackage) {
  const std::string bundleFile = buildBundle(bundle(
      "duo", "6.46.9", {spec("one", "6.46.9", {file("/bin/one", "1\n")}), spec("two", "6.46.9", {file("/bin/two", "2\n")})}));
  ScratchRoot root;
  upload(root, "base.qpk", build(spec("base", "6.46.9", {file("/bin/base", "base\n")})));
  ASSERT_EQ(root.run({}).status, 0);
  root.remove("/rw/pckg/.download/base.qpk");
  const State before = snapshot(root);
  root.write("/rw/pckg/.download/duo.qpk", bundleFile.substr(0, secondMemberOffset(bundleFile)));
  const RunResult run = robust::runBounded(root, {});
  EXPECT_TRUE(hasLine(run.outPlain, "ERROR: broken package duo.qpk")) << run.outPlain;
  State after = snapshot(root);
  after.erase("/rw/pckg/.download/duo.qpk");
  EXPECT_EQ(differences(before, after), std::vector<std::string>{});
}

}  // namespace
