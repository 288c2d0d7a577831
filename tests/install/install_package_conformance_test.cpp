// A new version that needs a name only its own old version provided: the
// acceptance check counts the old version, the engine then finds nothing
// providing the name and takes the new record out again. Nothing may be
// installed, and the user must be told why.
#include <gtest/gtest.h>

#include "support/fixtures.h"

using namespace fixtures;

namespace {

const char* const kLine = "ERROR: can not install pkg-2.0: libfoo is not installed, but is required";

// base and pkg-1.0 (which provides libfoo) installed; pkg-2.0 needs libfoo
// and no longer provides it.
std::string prepare(ScratchRoot& root) {
  upload(root, "base.qpk", build(spec("base", "1.0", {file("/bin/base", "b")})));
  qpk::PackageSpec old = spec("pkg", "1.0", {file("/bin/pkg", "1")});
  old.provides.push_back(relation("libfoo"));
  upload(root, "pkg.qpk", build(old));
  EXPECT_EQ(root.run({}).status, 0);
  root.remove("/rw/pckg/.download/base.qpk");
  root.remove("/rw/pckg/.download/pkg.qpk");
  root.remove("/flash/PCKGS_CHANGED");
  qpk::PackageSpec next = spec("pkg", "2.0", {file("/bin/pkg", "2")});
  next.dependencies.push_back(relation("libfoo"));
  return build(next);
}

TEST(InstallPackageConformance, LostSelfProvidedDependencyIsReportedInTheUpgradeRun) {
  ScratchRoot root;
  upload(root, "pkg2.qpk", prepare(root));
  const RunResult run = root.run({});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(hasLine(run.outPlain, kLine)) << run.outPlain;
  EXPECT_FALSE(hasLine(run.outPlain, "installed pkg-2.0")) << run.outPlain;
  EXPECT_EQ(root.read("/flash/bin/pkg"), "1");
  EXPECT_FALSE(root.exists("/flash/PCKGS_CHANGED"));
  EXPECT_TRUE(hasLine(root.read("/flash/postlog"), kLine));
}

TEST(InstallPackageConformance, LostSelfProvidedDependencyIsReportedThroughStandardInput) {
  ScratchRoot root;
  const std::string next = prepare(root);
  const RunResult run = root.run({"-"}, {}, next);
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(hasLine(run.outPlain, kLine)) << run.outPlain;
  EXPECT_EQ(root.read("/flash/bin/pkg"), "1");
  EXPECT_FALSE(root.exists("/flash/PCKGS_CHANGED"));
}

}  // namespace

namespace {

// Refusals that used to be silent: the upgrade run drops everything for
// them, so each must say why.
const char* const kBrokenBundle = "ERROR: installation of bun-1.0 failed: broken package";

void installBase(ScratchRoot& root) {
  installFirst(root, {{"base.qpk", build(spec("base", "1.0", {file("/bin/base", "b")}))}});
}

TEST(InstallPackageConformance, PipedBundleCutInsideAMemberHeaderIsNamed) {
  const std::string whole = buildBundle(
      bundle("bun", "1.0", {spec("a", "1.0", {file("/bin/a", "a")}), spec("b", "1.0", {file("/bin/b", "b")})}));
  // The second package header part, then 10 bytes of its header data.
  size_t at = 0, headers = 0;
  for (const PartSpan& part : partsOf(whole))
    if (part.type == PartHeader && ++headers == 2 && at == 0) at = part.offset;
  ASSERT_EQ(headers, 2u);
  ScratchRoot root;
  installBase(root);
  const RunResult run = root.run({"-"}, {}, whole.substr(0, at + 6 + 10));
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(hasLine(run.outPlain, kBrokenBundle)) << run.outPlain;
  EXPECT_FALSE(root.exists("/flash/bin/a"));
}

TEST(InstallPackageConformance, EntryPathHeldByAFileIsNamed) {
  ScratchRoot root;
  installBase(root);
  root.write("/flash/var/pdb/foo", "not a directory");
  upload(root, "foo.qpk", build(spec("foo", "1.0", {file("/bin/foo", "f")})));
  const RunResult run = root.run({});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(hasLine(run.outPlain,
                      "ERROR: installation of foo-1.0 failed: could not create /flash/var/pdb/foo/: Not a directory"))
      << run.outPlain;
  EXPECT_FALSE(root.exists("/flash/bin/foo"));
  EXPECT_EQ(root.read("/flash/var/pdb/foo"), "not a directory");
}

}  // namespace
