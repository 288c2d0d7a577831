#include "staging/staged_changes.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <vector>

#include "isolated_run.h"
#include "model/package.h"

namespace {

std::vector<std::string> keysOf(const StagedChanges& set) {
  std::vector<std::string> keys;
  for (const auto& [key, change] : set) keys.push_back(key);
  return keys;
}

TEST(StagedChanges, KeysAreInByteOrder) {
  StagedChanges set;
  stageSymlink(set, "x", "/flash/var/pdb/image");
  stageSymlink(set, "x", "/flash/bootimage");
  stageSymlink(set, "x", "/flash/boot");
  // '-' (0x2D) sorts before '/' (0x2F), and upper case before lower case.
  stageSymlink(set, "x", "/flash/a/b");
  stageSymlink(set, "x", "/flash/a-b");
  stageSymlink(set, "x", "/flash/B");
  EXPECT_EQ(keysOf(set), (std::vector<std::string>{"/flash/B", "/flash/a-b", "/flash/a/b", "/flash/boot",
                                                   "/flash/bootimage", "/flash/var/pdb/image"}));
}

TEST(StagedChanges, ReplacedTemporaryIsDeleted) {
  TestFolder dir;
  writeFile(dir / "tmp1", "one");
  writeFile(dir / "source", "kept");
  StagedChanges set;
  stageChange(set, dir / "target", ChangeKind::MoveTemporary, dir / "tmp1");
  stageMove(set, dir / "source", dir / "target");
  EXPECT_FALSE(pathExists(dir / "tmp1"));
  ASSERT_EQ(set.size(), 1u);
  EXPECT_EQ(set[dir / "target"].kind, ChangeKind::MoveExisting);
  EXPECT_EQ(set[dir / "target"].data, dir / "source");

  // A replaced MoveExisting source belongs to somebody else and stays.
  stageSymlink(set, "text", dir / "target");
  EXPECT_TRUE(pathExists(dir / "source"));
  EXPECT_EQ(set[dir / "target"].kind, ChangeKind::Symlink);
}

TEST(StagedChanges, RemovalOfExistingFileReplacesTemporary) {
  TestFolder dir;
  writeFile(dir / "target", "old");
  writeFile(dir / "tmp1", "new");
  StagedChanges set;
  stageChange(set, dir / "target", ChangeKind::MoveTemporary, dir / "tmp1");
  stageRemoval(set, dir / "target");
  EXPECT_FALSE(pathExists(dir / "tmp1"));
  ASSERT_EQ(set.size(), 1u);
  EXPECT_EQ(set[dir / "target"].kind, ChangeKind::Remove);
  EXPECT_EQ(set[dir / "target"].data, "");
  EXPECT_TRUE(pathExists(dir / "target"));  // nothing happens before the commit
}

TEST(StagedChanges, RemovalOfMissingPathDropsEntryAndItsTemporary) {
  TestFolder dir;
  writeFile(dir / "tmp1", "new");
  StagedChanges set;
  stageChange(set, dir / "target", ChangeKind::MoveTemporary, dir / "tmp1");
  stageRemoval(set, dir / "target");
  EXPECT_TRUE(set.empty());
  EXPECT_FALSE(pathExists(dir / "tmp1"));

  // A dangling link counts as absent.
  ASSERT_EQ(symlink("nowhere", (dir / "dangling").c_str()), 0);
  stageRemoval(set, dir / "dangling");
  EXPECT_TRUE(set.empty());
  stageRemoval(set, dir / "never-there");
  EXPECT_TRUE(set.empty());
}

TEST(StagedChanges, DiscardDeletesOnlyTemporaries) {
  TestFolder dir;
  writeFile(dir / "tmp1", "1");
  writeFile(dir / "tmp2", "2");
  writeFile(dir / "source", "s");
  writeFile(dir / "victim", "v");
  StagedChanges set;
  stageChange(set, dir / "a", ChangeKind::MoveTemporary, dir / "tmp1");
  stageChange(set, dir / "b", ChangeKind::MoveTemporary, dir / "tmp2");
  stageMove(set, dir / "source", dir / "c");
  stageRemoval(set, dir / "victim");
  stageChange(set, dir / "d", ChangeKind::MoveTemporary, dir / "already-gone");  // failure ignored
  discardChanges(set);
  EXPECT_TRUE(set.empty());
  EXPECT_FALSE(pathExists(dir / "tmp1"));
  EXPECT_FALSE(pathExists(dir / "tmp2"));
  EXPECT_TRUE(pathExists(dir / "source"));
  EXPECT_TRUE(pathExists(dir / "victim"));
}

TEST(StagedChanges, PrepareEntryDirectoryRefusesUnusableNames) {
  StagedChanges set;
  for (const char* name : {"", ".", "..", "a/b", "/", "../x"}) {
    Package p(name);
    EXPECT_FALSE(prepareEntryDirectory(p, set)) << '"' << name << '"';
  }
  EXPECT_TRUE(set.empty());
}

TEST(StagedChanges, PrepareEntryDirectory) {
  TestFolder root;
  ASSERT_EQ(mkdir((root / "flash").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((root / "flash/var").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((root / "flash/var/pdb").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((root / "flash/var/pdb/old").c_str(), 0755), 0);
  writeFile(root / "flash/var/pdb/old/version", "1");
  writeFile(root / "flash/var/pdb/plain", "not a directory");
  EXPECT_ISOLATED(runIsolated(
      [] {
        StagedChanges set;
        // Absent and existing entry directories are fine.
        EXPECT_TRUE(prepareEntryDirectory(Package("new"), set));
        EXPECT_TRUE(prepareEntryDirectory(Package("old"), set));
        EXPECT_TRUE(set.empty());

        // An uninstall followed by a reinstall: the staged removal is taken back.
        stageRemoval(set, "/flash/var/pdb/old/");
        ASSERT_EQ(set.size(), 1u);
        EXPECT_TRUE(prepareEntryDirectory(Package("old"), set));
        EXPECT_TRUE(set.empty());

        // Any other staged change at the entry path is a clash.
        stageSymlink(set, "/elsewhere", "/flash/var/pdb/new/");
        EXPECT_FALSE(prepareEntryDirectory(Package("new"), set));
        EXPECT_EQ(set.size(), 1u);

        // A file where the directory should be could never take the entry files.
        EXPECT_FALSE(prepareEntryDirectory(Package("plain"), set));
      },
      {}, root.path()));
}

}  // namespace
