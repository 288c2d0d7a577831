// The staging rules: temporaries deleted when their change is replaced,
// taken back or discarded, and entry directories; and where openAtomic puts
// a temporary, on small tmpfs mounts in a private namespace.
#include "staging/staged_changes.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "model/package.h"
#include "staging/atomic_writer.h"
#include "staging/temporary_files.h"
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

// Runs fn chrooted to a scratch root whose "/flash" is a tmpfs of the given
// size, and "/flash/boot" one of its own.
bool onFlash(const std::string& size, const std::function<void()>& fn) {
  ScratchRoot root;
  return runIsolated(fn, {{root.host("/flash"), size}, {root.host("/flash/boot"), "1m"}}, root.path());
}

// The folder of the temporary openAtomic staged for target, or "refused".
std::string placed(StagedChanges& set, const std::string& target, uint32_t hint) {
  AtomicFile out;
  if (!openAtomic(out, set, target, hint, 0)) return set.count(target) ? "refused but staged" : "refused";
  return parentDirectory(set[target].data);
}

// In the program's folder on the target's file system when there is room
// (more than the hint and a spare 64 KiB, counting what the run took
// before), else on "/ram", else "/tmp"; the nearest existing ancestor of the
// target decides.
TEST(AtomicWriter, TemporaryGoesWhereThereIsRoom) {
  EXPECT_TRUE(onFlash("64k", [] {
    StagedChanges set;
    EXPECT_EQ(placed(set, "/flash/PCKGS_CHANGED", 1), "/ram/.installer");
    EXPECT_EQ(set["/flash/PCKGS_CHANGED"].kind, ChangeKind::MoveTemporary);
    EXPECT_EQ(fileMode(set["/flash/PCKGS_CHANGED"].data), 0600u);
    EXPECT_EQ(placed(set, "/flash/a", 0), "/ram/.installer");
    discardChanges(set);
    removeEmptyTemporaryFolders();
    ASSERT_EQ(rmdir("/ram"), 0);
    StagedChanges withoutRam;  // a run learns what its folders are once
    EXPECT_EQ(placed(withoutRam, "/flash/b", 0), "/tmp/.installer");
    discardChanges(withoutRam);
    removeEmptyTemporaryFolders();
    ASSERT_EQ(rmdir("/tmp"), 0);
    StagedChanges neither;
    EXPECT_EQ(placed(neither, "/flash/c", 0), "refused");
  }));
  EXPECT_TRUE(onFlash("1m", [] {
    StagedChanges set;
    EXPECT_EQ(placed(set, "/flash/PCKGS_CHANGED", 1), "/flash/.installer");
    mkdir("/flash/var", 0755);
    EXPECT_EQ(placed(set, "/flash/var/pdb/newpkg/version", 10), "/flash/.installer");
    EXPECT_EQ(placed(set, "/flash/boot/new/kernel", 10), "/flash/boot/.installer");
    EXPECT_EQ(placed(set, "/flash/boot/big", 1000 * 1024), "/ram/.installer");
    const uint32_t left = 1024 * 1024 - 11 - 65536;  // exactly that much is not enough
    EXPECT_EQ(placed(set, "/flash/big", left), "/ram/.installer");
    EXPECT_EQ(placed(set, "/flash/fits", left - 1), "/flash/.installer");
  }));
  // Exactly 4 GiB free: the product of free blocks and block size is 0 when
  // it wraps in 32 bits, which would send every file to RAM.
  EXPECT_TRUE(onFlash("4g", [] {
    StagedChanges set;
    EXPECT_EQ(placed(set, "/flash/file", 1000), "/flash/.installer");
  }));
}

}  // namespace
