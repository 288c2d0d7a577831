// Bundle streams that break off or go on with something else: the upgrade
// run drops the whole upgrade for them, so they must be named, or the run
// ends with status 0 and not a word, as if nothing had been uploaded.
#include <gtest/gtest.h>

#include "support/fixtures.h"

using namespace fixtures;

namespace {

const char* const kBroken = "ERROR: installation of bun-1.0 failed: broken package";

qpk::BundleSpec bun() { return bundle("bun", "1.0", {spec("a", "1.0", {file("/bin/a", "a")})}); }

void installBase(ScratchRoot& root) {
  installFirst(root, {{"base.qpk", build(spec("base", "1.0", {file("/bin/base", "b")}))}});
}

TEST(BundleStream, ForeignPartAfterTheMembersIsNamedInTheUpgradeRun) {
  ScratchRoot root;
  installBase(root);
  qpk::PartWriter writer;
  writer.raw(buildBundle(bun()).substr(8));
  writer.part(PartProvides, qpk::encodeRelations({relation("x")}));
  upload(root, "bun.qpk", writer.finish());
  const RunResult run = root.run({});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(hasLine(run.outPlain, kBroken)) << run.outPlain;
  EXPECT_FALSE(root.exists("/flash/bin/a"));
  EXPECT_FALSE(root.exists("/flash/PCKGS_CHANGED"));
  EXPECT_TRUE(hasLine(root.read("/flash/postlog"), kBroken));
}

TEST(BundleStream, BundleHeaderWithRelationsIsNamedInTheUpgradeRun) {
  ScratchRoot root;
  installBase(root);
  qpk::PartWriter writer;
  writer.part(PartBundleHeader, qpk::encodeHeader("bun", version("1.0"), 1000, 0, true));
  writer.part(PartDependencies, qpk::encodeRelations({relation("base")}));
  writer.raw(buildBundle(bun()).substr(8 + 6 + 36));  // the members, after the bundle's own header part
  upload(root, "bun.qpk", writer.finish());
  const RunResult run = root.run({});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(hasLine(run.outPlain, kBroken)) << run.outPlain;
  EXPECT_FALSE(root.exists("/flash/bin/a"));
}

TEST(BundleStream, PipedBundleWithoutMembersOrWithACutMemberListIsNamed) {
  ScratchRoot root;
  installBase(root);
  qpk::PartWriter empty;
  empty.part(PartBundleHeader, qpk::encodeHeader("bun", version("1.0"), 1000, 0, true));
  empty.part(PartBlob, "b");
  RunResult run = root.run({"-"}, {}, empty.finish());
  EXPECT_EQ(run.status, 3);
  EXPECT_TRUE(hasLine(run.outPlain, kBroken)) << run.outPlain;

  qpk::PartWriter cut;
  cut.part(PartBundleHeader, qpk::encodeHeader("bun", version("1.0"), 1000, 0, true));
  cut.part(PartBlob, "b");
  cut.part(PartBundleMembers, qpk::encodeRelations({relation("a"), relation("b")}).substr(0, 40));
  run = root.run({"-"}, {}, cut.finish());
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(hasLine(run.outPlain, kBroken)) << run.outPlain;
  EXPECT_FALSE(root.exists("/flash/var/pdb/bun"));
}

}  // namespace
