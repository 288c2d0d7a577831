// Which uploads the upgrade run keeps as stored images: only those of
// packages that get a database entry (and every bundle, whose entry is
// always written). An unrecorded package has no entry of its own, so its
// upload must never land in the entry directory of its name.
#include <gtest/gtest.h>

#include "support/fixtures.h"

using namespace fixtures;

namespace {

qpk::PackageSpec hello(const char* versionText, const std::string& content) {
  qpk::PackageSpec s = spec("hello", versionText, {file("/bin/hello", content)});
  s.blob = std::string("blob of ") + versionText;
  return s;
}

TEST(UploadImage, UnrecordedUploadLeavesTheInstalledImageAlone) {
  ScratchRoot root;
  const std::string recorded = upload(root, "hello.qpk", build(hello("1.0", "one")));
  ASSERT_EQ(root.run({}).status, 0);
  ASSERT_TRUE(root.read("/flash/var/pdb/hello/image") == recorded);

  qpk::PackageSpec extra = hello("2.0", "more");
  extra.files = {file("/bin/extra", "more")};
  extra.magic = UnrecordedMagic;
  upload(root, "extra.qpk", build(extra));
  const RunResult run = root.run({});
  EXPECT_EQ(run.status, 0) << run.outPlain;
  EXPECT_EQ(root.read("/flash/bin/extra"), "more");
  EXPECT_EQ(root.read("/flash/bin/hello"), "one");
  // The installed package keeps its stored image; the upload stays put.
  EXPECT_TRUE(root.read("/flash/var/pdb/hello/image") == recorded);
  EXPECT_TRUE(root.exists("/rw/pckg/.download/extra.qpk"));
  // The next run still loads the recorded package as it was.
  root.remove("/rw/pckg/.download/extra.qpk");
  const RunResult show = root.run({"--show"});
  EXPECT_NE(show.out.find("1.0"), std::string::npos) << show.out;
  EXPECT_EQ(show.out.find("2.0"), std::string::npos) << show.out;
}

TEST(UploadImage, UnrecordedUploadCreatesNoEntryDirectory) {
  ScratchRoot root;
  upload(root, "base.qpk", build(spec("base", "1.0", {file("/bin/base", "b")})));
  ASSERT_EQ(root.run({}).status, 0);
  root.remove("/rw/pckg/.download/base.qpk");

  qpk::PackageSpec once = hello("1.0", "once");
  once.magic = UnrecordedMagic;
  upload(root, "once.qpk", build(once));
  const RunResult run = root.run({});
  EXPECT_EQ(run.status, 0) << run.outPlain;
  EXPECT_EQ(root.read("/flash/bin/hello"), "once");
  // Without a database entry nothing of "hello" may appear in the database,
  // or the next run would load a package that was never recorded.
  EXPECT_FALSE(root.exists("/flash/var/pdb/hello"));
}

TEST(UploadImage, UnrecordedBootImageStillBecomesTheBootImage) {
  ScratchRoot root;
  upload(root, "base.qpk", build(spec("base", "1.0", {file("/bin/base", "b")})));
  ASSERT_EQ(root.run({}).status, 0);
  root.remove("/rw/pckg/.download/base.qpk");

  qpk::PackageSpec kernel = spec("kernel", "1.0", {file("/boot/kernel", "k")});
  kernel.flags = kFlagBootImage;
  kernel.blob = "boot blob";
  kernel.magic = UnrecordedMagic;
  const std::string kernelFile = upload(root, "kernel.qpk", build(kernel));
  const RunResult run = root.run({}, {{"bootimage", "1"}});
  EXPECT_EQ(run.status, 0) << run.outPlain;
  EXPECT_TRUE(root.read("/flash/bootimage") == kernelFile);
  EXPECT_FALSE(root.exists("/flash/var/pdb/kernel"));
}

}  // namespace
