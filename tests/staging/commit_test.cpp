// commitChanges on host folders of a scratch root: the two passes, one-level
// directory removal, links, moves and their error lines, and the copy across
// devices (a tmpfs in a private mount namespace).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "staging/commit.h"
#include "support/fixtures.h"

using namespace fixtures;
using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;

namespace {

using Names = std::vector<std::string>;

std::string committed(const StagedChanges& set) {
  CaptureStderr();
  commitChanges(set, false);
  return GetCapturedStderr();
}

TEST(Commit, RemovalsRunBeforeMovesAndGoOneLevelDeep) {
  ScratchRoot root;
  const std::string d = root.host("/tmp/");
  for (const char* dir : {"d", "e", "x", "x/sub", "y"}) mkdir((d + dir).c_str(), 0755);
  for (const char* name : {"d/old", "x/a", "x/.hidden", "x/sub/f", "y/version", "plain"}) writeFile(d + name, name);
  writeFile(d + "src", "moved in");
  StagedChanges set;
  // The move's key sorts first, so one pass in key order would move the file
  // in and then remove it with its directory.
  stageMove(set, d + "src", d + "d/new");
  stageRemoval(set, d + "e/../d");
  ASSERT_EQ(set.begin()->first, d + "d/new");
  stageRemoval(set, d + "x");
  stageRemoval(set, d + "y/");  // entry directories are staged with their "/"
  stageRemoval(set, d + "plain");
  stageChange(set, d + "vanished", ChangeKind::Remove, "");
  EXPECT_EQ(committed(set), "");  // removals fail silently
  EXPECT_EQ(listFolder(d + "d"), Names{"new"});
  EXPECT_EQ(readFile(d + "d/new"), "moved in");
  EXPECT_EQ(listFolder(d + "x"), (Names{".hidden", "sub"}));
  EXPECT_EQ(listFolder(d), (Names{"d", "e", "x"}));
}

TEST(Commit, LinksMovesAndTheirErrorLines) {
  ScratchRoot root;
  const std::string d = root.host("/tmp/");
  writeFile(d + "tmp1", "new content", 0755);
  writeFile(d + "existing", "kept file");
  writeFile(d + "target", "old content");
  writeFile(d + "file", "replaced by a link");
  writeFile(d + "blocker", "a file where a directory is needed");
  StagedChanges set;
  stageChange(set, d + "target", ChangeKind::MoveTemporary, d + "tmp1");
  stageMove(set, d + "existing", d + "a/b/c");
  stageSymlink(set, "/flash/bootimage", d + "new/deep/image");
  stageSymlink(set, "relative text", d + "file");
  stageSymlink(set, "x", d + "blocker/link");
  EXPECT_EQ(committed(set), "symlink: Not a directory\n");
  EXPECT_EQ(readFile(d + "target"), "new content");
  EXPECT_EQ(fileMode(d + "target"), 0755u);
  EXPECT_EQ(readFile(d + "a/b/c"), "kept file");
  EXPECT_EQ(linkText(root, "/tmp/new/deep/image"), "/flash/bootimage");
  EXPECT_EQ(linkText(root, "/tmp/file"), "relative text");
  EXPECT_EQ(readFile(d + "blocker"), "a file where a directory is needed");
  StagedChanges lost;
  stageMove(lost, d + "nowhere", d + "lost");
  EXPECT_EQ(committed(lost), "rename: No such file or directory\n");
}

TEST(Commit, CrossDeviceMovesCopyPlainFilesWithTheirPermissions) {
  ScratchRoot root;
  const std::string d = root.host("/tmp/");
  EXPECT_TRUE(runIsolated(
      [d] {
        std::string big(100000, '\0');
        for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
        writeFile(d + "src", big, 02750);
        writeFile(d + "small", "small", 0600);
        writeFile(d + "mnt/t", "old", 0644);
        mkdir((d + "srcdir").c_str(), 0755);
        symlink("nothing", (d + "dangling").c_str());
        writeFile(d + "mnt/a", "old a");
        StagedChanges set;
        stageChange(set, d + "mnt/t", ChangeKind::MoveTemporary, d + "src");
        stageMove(set, d + "small", d + "mnt/new/sub/f");
        stageMove(set, d + "srcdir", d + "mnt/a");     // only plain files are copied
        stageMove(set, d + "dangling", d + "mnt/b");
        EXPECT_EQ(committed(set), "");
        EXPECT_EQ(readFile(d + "mnt/t"), big);
        EXPECT_EQ(fileMode(d + "mnt/t"), 02750u);
        EXPECT_EQ(readFile(d + "mnt/new/sub/f"), "small");
        EXPECT_EQ(fileMode(d + "mnt/new/sub/f"), 0600u);
        EXPECT_EQ(readFile(d + "mnt/a"), "old a");
        // The sources stay; no copy temporaries are left beside the targets.
        EXPECT_TRUE(pathExists(d + "src"));
        EXPECT_EQ(listFolder(d + "mnt"), (Names{"a", "new", "t"}));
        EXPECT_EQ(listFolder(d + "mnt/new/sub"), Names{"f"});
        // The spinner: the first chunk draws "|" at once, only when asked for.
        CaptureStdout();
        EXPECT_TRUE(copyFile(d + "src", d + "mnt/u", true));
        std::string drawn = GetCapturedStdout();
        ASSERT_FALSE(drawn.empty());
        EXPECT_EQ(drawn[0], '|');
        EXPECT_EQ(drawn.find_first_not_of("|/-\\\b"), std::string::npos);
        CaptureStdout();
        EXPECT_TRUE(copyFile(d + "src", d + "mnt/v", false));
        EXPECT_EQ(GetCapturedStdout(), "");
      },
      {{d + "mnt", "4m"}}));
}

TEST(Commit, FailedCopyKeepsTheOldTarget) {
  ScratchRoot root;
  const std::string d = root.host("/tmp/");
  EXPECT_TRUE(runIsolated(
      [d] {
        writeFile(d + "src", std::string(1 << 20, 'x'));
        writeFile(d + "mnt/t", "old content", 0644);
        StagedChanges set;
        stageMove(set, d + "src", d + "mnt/t");
        EXPECT_EQ(committed(set), "copy: No space left on device\n");
        EXPECT_EQ(readFile(d + "mnt/t"), "old content");
        EXPECT_EQ(fileMode(d + "mnt/t"), 0644u);
        EXPECT_EQ(listFolder(d + "mnt"), Names{"t"});
      },
      {{d + "mnt", "64k"}}));
}

}  // namespace
