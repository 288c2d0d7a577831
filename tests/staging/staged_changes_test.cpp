// The staging rules: temporaries deleted when their change is replaced,
// taken back or discarded, and entry directories.
#include "staging/staged_changes.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "model/package.h"
#include "support/fixtures.h"

using namespace fixtures;

namespace {

TEST(StagedChanges, TemporariesGoWithTheChangeThatOwnsThem) {
  ScratchRoot root;
  const std::string d = root.host("/tmp/");
  for (const char* name : {"tmp1", "tmp2", "tmp3", "tmp4", "source", "old"}) writeFile(d + name, name);
  StagedChanges set;
  // Replaced by another change: the temporary is deleted; a MoveExisting
  // source belongs to somebody else and stays.
  stageChange(set, d + "a", ChangeKind::MoveTemporary, d + "tmp1");
  stageMove(set, d + "source", d + "a");
  EXPECT_FALSE(pathExists(d + "tmp1"));
  EXPECT_EQ(set[d + "a"].kind, ChangeKind::MoveExisting);
  stageSymlink(set, "text", d + "a");
  EXPECT_TRUE(pathExists(d + "source"));
  // A removal of an existing file replaces the write; the file stays until the commit.
  stageChange(set, d + "old", ChangeKind::MoveTemporary, d + "tmp2");
  stageRemoval(set, d + "old");
  EXPECT_FALSE(pathExists(d + "tmp2"));
  EXPECT_EQ(set[d + "old"].kind, ChangeKind::Remove);
  EXPECT_TRUE(pathExists(d + "old"));
  // A removal of a missing path takes the staged write back, temporary and all;
  // a dangling link counts as missing.
  stageChange(set, d + "new", ChangeKind::MoveTemporary, d + "tmp3");
  stageRemoval(set, d + "new");
  EXPECT_EQ(set.count(d + "new"), 0u);
  EXPECT_FALSE(pathExists(d + "tmp3"));
  ASSERT_EQ(symlink("nowhere", (d + "dangling").c_str()), 0);
  stageRemoval(set, d + "dangling");
  EXPECT_EQ(set.size(), 2u);
  // Discarding deletes only temporaries.
  stageChange(set, d + "b", ChangeKind::MoveTemporary, d + "tmp4");
  stageChange(set, d + "c", ChangeKind::MoveTemporary, d + "already-gone");
  discardChanges(set);
  EXPECT_TRUE(set.empty());
  EXPECT_EQ(listFolder(d), (std::vector<std::string>{"dangling", "old", "source"}));
}

// A reinstall takes back the staged removal of its entry directory; any
// other staged change there is a clash (a file there is checked end to end).
TEST(StagedChanges, PrepareEntryDirectory) {
  ScratchRoot root;
  root.write("/flash/var/pdb/old/version", "1");
  EXPECT_TRUE(root.runInside([] {
    StagedChanges set;
    stageRemoval(set, "/flash/var/pdb/old/");
    EXPECT_TRUE(prepareEntryDirectory(Package("old"), set));
    EXPECT_TRUE(set.empty());
    stageSymlink(set, "/elsewhere", "/flash/var/pdb/new/");
    EXPECT_FALSE(prepareEntryDirectory(Package("new"), set));
    EXPECT_EQ(set.size(), 1u);
  }));
}

}  // namespace
