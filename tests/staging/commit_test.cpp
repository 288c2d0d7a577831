#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "isolated_run.h"
#include "staging/commit.h"

namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;

using Names = std::vector<std::string>;

TEST(Commit, RemovalsRunBeforeMoves) {
  TestFolder dir;
  mkdir((dir / "d").c_str(), 0755);
  mkdir((dir / "e").c_str(), 0755);
  writeFile(dir / "d/old", "old");
  writeFile(dir / "src", "moved in");
  StagedChanges set;
  // The move's key sorts first, so one pass in key order would move the file
  // in and then remove it with its directory.
  stageMove(set, dir / "src", dir / "d/new");
  stageRemoval(set, dir / "e/../d");
  ASSERT_EQ(set.begin()->first, dir / "d/new");
  commitChanges(set, false);
  EXPECT_EQ(listFolder(dir / "d"), Names{"new"});
  EXPECT_EQ(readFile(dir / "d/new"), "moved in");
  EXPECT_FALSE(pathExists(dir / "src"));
}

TEST(Commit, DirectoryRemovalIsOneLevelDeep) {
  TestFolder dir;
  mkdir((dir / "x").c_str(), 0755);
  writeFile(dir / "x/a", "a");
  writeFile(dir / "x/b", "b");
  writeFile(dir / "x/.hidden", "h");
  mkdir((dir / "x/sub").c_str(), 0755);
  writeFile(dir / "x/sub/f", "f");
  mkdir((dir / "y").c_str(), 0755);
  writeFile(dir / "y/version", "1");
  writeFile(dir / "y/files", "");
  writeFile(dir / "plain", "p");

  StagedChanges set;
  stageRemoval(set, dir / "x");
  stageRemoval(set, dir / "y/");  // entry directories are staged with their "/"
  stageRemoval(set, dir / "plain");
  stageChange(set, dir / "vanished", ChangeKind::Remove, "");
  CaptureStderr();
  commitChanges(set, false);
  EXPECT_EQ(GetCapturedStderr(), "");  // removals fail silently
  EXPECT_EQ(listFolder(dir / "x"), (Names{".hidden", "sub"}));
  EXPECT_EQ(listFolder(dir / "x/sub"), Names{"f"});
  EXPECT_EQ(listFolder(dir.path()), (Names{"x"}));
}

TEST(Commit, SymbolicLinks) {
  TestFolder dir;
  writeFile(dir / "file", "replaced by a link");
  writeFile(dir / "blocker", "a file where a directory is needed");
  StagedChanges set;
  stageSymlink(set, "/flash/bootimage", dir / "new/deep/image");
  stageSymlink(set, "relative text", dir / "file");
  stageSymlink(set, "x", dir / "blocker/link");
  CaptureStderr();
  commitChanges(set, false);
  EXPECT_EQ(GetCapturedStderr(), "symlink: Not a directory\n");
  char text[64] = {};
  ASSERT_GT(readlink((dir / "new/deep/image").c_str(), text, sizeof text - 1), 0);
  EXPECT_STREQ(text, "/flash/bootimage");
  char text2[64] = {};
  ASSERT_GT(readlink((dir / "file").c_str(), text2, sizeof text2 - 1), 0);
  EXPECT_STREQ(text2, "relative text");
  EXPECT_EQ(readFile(dir / "blocker"), "a file where a directory is needed");
}

TEST(Commit, MovesAndRenameErrors) {
  TestFolder dir;
  writeFile(dir / "tmp1", "new content", 0755);
  writeFile(dir / "existing", "kept file");
  writeFile(dir / "target", "old content");
  StagedChanges set;
  stageChange(set, dir / "target", ChangeKind::MoveTemporary, dir / "tmp1");
  stageMove(set, dir / "existing", dir / "a/b/c");
  stageMove(set, dir / "nowhere", dir / "lost");
  CaptureStderr();
  commitChanges(set, false);
  EXPECT_EQ(GetCapturedStderr(), "rename: No such file or directory\n");
  EXPECT_EQ(readFile(dir / "target"), "new content");
  EXPECT_EQ(fileMode(dir / "target"), 0755u);
  EXPECT_EQ(readFile(dir / "a/b/c"), "kept file");
  EXPECT_EQ(listFolder(dir.path()), (Names{"a", "target"}));
}

// A host folder with a small file system mounted on "mnt", so a rename from
// the folder into "mnt" crosses devices.
struct CrossDevice {
  TestFolder dir;
  CrossDevice() { mkdir((dir / "mnt").c_str(), 0755); }
  bool run(const std::function<void()>& fn, const std::string& options = "size=4m") {
    return runIsolated(fn, {{dir / "mnt", options}});
  }
};

TEST(Commit, CrossDeviceMoveCopiesWithPermissions) {
  CrossDevice x;
  const std::string d = x.dir.path();
  EXPECT_ISOLATED(x.run([d] {
    std::string big(100000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
    writeFile(d + "/src", big, 02750);
    writeFile(d + "/small", "small", 0600);
    writeFile(d + "/mnt/t", "old", 0644);
    StagedChanges set;
    stageChange(set, d + "/mnt/t", ChangeKind::MoveTemporary, d + "/src");
    stageMove(set, d + "/small", d + "/mnt/new/sub/f");
    CaptureStderr();
    commitChanges(set, false);
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(readFile(d + "/mnt/t"), big);
    EXPECT_EQ(fileMode(d + "/mnt/t"), 02750u);
    EXPECT_EQ(readFile(d + "/mnt/new/sub/f"), "small");
    EXPECT_EQ(fileMode(d + "/mnt/new/sub/f"), 0600u);
    // The sources stay; no copy temporaries are left beside the targets.
    EXPECT_TRUE(pathExists(d + "/src"));
    EXPECT_TRUE(pathExists(d + "/small"));
    EXPECT_EQ(listFolder(d + "/mnt"), (Names{"new", "t"}));
    EXPECT_EQ(listFolder(d + "/mnt/new/sub"), Names{"f"});
  }));
}

TEST(Commit, FailedCopyKeepsOldTarget) {
  CrossDevice x;
  const std::string d = x.dir.path();
  EXPECT_ISOLATED(x.run(
      [d] {
        writeFile(d + "/src", std::string(1 << 20, 'x'));
        writeFile(d + "/mnt/t", "old content", 0644);
        StagedChanges set;
        stageMove(set, d + "/src", d + "/mnt/t");
        CaptureStderr();
        commitChanges(set, false);
        EXPECT_EQ(GetCapturedStderr(), "copy: No space left on device\n");
        EXPECT_EQ(readFile(d + "/mnt/t"), "old content");
        EXPECT_EQ(fileMode(d + "/mnt/t"), 0644u);
        EXPECT_EQ(listFolder(d + "/mnt"), Names{"t"});
        CaptureStderr();
        EXPECT_FALSE(copyFile(d + "/src", d + "/mnt/t", false));
        EXPECT_EQ(GetCapturedStderr(), "copy: No space left on device\n");
        EXPECT_EQ(readFile(d + "/mnt/t"), "old content");
      },
      "size=64k"));
}

TEST(Commit, OnlyPlainFilesAreCopied) {
  CrossDevice x;
  const std::string d = x.dir.path();
  EXPECT_ISOLATED(x.run([d] {
    mkdir((d + "/srcdir").c_str(), 0755);
    symlink("nothing", (d + "/dangling").c_str());
    writeFile(d + "/mnt/a", "old a");
    writeFile(d + "/mnt/b", "old b");
    StagedChanges set;
    stageMove(set, d + "/srcdir", d + "/mnt/a");
    stageMove(set, d + "/dangling", d + "/mnt/b");
    CaptureStderr();
    commitChanges(set, false);
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(readFile(d + "/mnt/a"), "old a");
    EXPECT_EQ(readFile(d + "/mnt/b"), "old b");
    EXPECT_EQ(listFolder(d + "/mnt"), (Names{"a", "b"}));
  }));
}

TEST(Commit, SpinnerTurnsWhileCopying) {
  CrossDevice x;
  const std::string d = x.dir.path();
  // A fresh child has a spinner that has not turned yet: the first chunk
  // draws "|" at once; later turns come only after 20 clock ticks.
  EXPECT_ISOLATED(x.run([d] {
    writeFile(d + "/src", std::string(3 * 16384, 'x'));
    CaptureStdout();
    EXPECT_TRUE(copyFile(d + "/src", d + "/mnt/t", true));
    std::string drawn = GetCapturedStdout();
    ASSERT_FALSE(drawn.empty());
    EXPECT_EQ(drawn[0], '|');
    EXPECT_EQ(drawn.find_first_not_of("|/-\\\b"), std::string::npos);
    CaptureStdout();
    EXPECT_TRUE(copyFile(d + "/src", d + "/mnt/u", false));
    EXPECT_EQ(GetCapturedStdout(), "");
  }));
}

}  // namespace
