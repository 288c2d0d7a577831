// The disk-space estimate on real file systems: tmpfs mounts of known size
// stand in for "/flash" and "/flash/boot"; "/ram" stays on the scratch root's
// own file system, so moves from there cross devices.
#include "upgrade/disk_space.h"

#include <gtest/gtest.h>

#include <fstream>

#include "staging/atomic_writer.h"
#include "upgrade/private_mounts.h"

namespace {

constexpr int64_t kBlock = 4096;

void writeBlocks(const std::string& path, int64_t blocks, int64_t extraBytes = 0) {
  makeDirectories(parentDirectory(path));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  const std::string data(static_cast<size_t>(blocks * kBlock + extraBytes), 'x');
  out << data;
}

struct Margins {
  bool ok;
  int64_t boot;
  int64_t flash;
};

Margins check(const StagedChanges& staged) {
  Margins m{};
  m.ok = checkDiskSpace(staged, &m.boot, &m.flash);
  return m;
}

// "/flash" of 100 blocks, no "/flash/boot" at all.
void onSmallFlash(const std::function<void()>& fn) {
  ScratchRoot root;
  const bool passed = mounts::withTmpfs(root, {{"/flash", "400k"}}, [&] { EXPECT_TRUE(root.runInside(fn)); });
  EXPECT_TRUE(passed);
}

TEST(DiskSpace, EmptySetGivesTheFreeSpaceWithoutReserve) {
  onSmallFlash([] {
    const Margins m = check({});
    EXPECT_TRUE(m.ok);
    EXPECT_EQ(m.flash, 100 * kBlock);
    EXPECT_EQ(m.boot, 0);  // no statistics for a missing "/flash/boot": nothing free, nothing used
  });
}

TEST(DiskSpace, ReserveBoundaryOnACrossDeviceMove) {
  onSmallFlash([] {
    writeBlocks("/ram/tmp92", 92);
    writeBlocks("/ram/tmp93", 92, 1);  // 92 blocks and one byte: 93 blocks
    StagedChanges staged;
    stageChange(staged, "/flash/var/pdb/new/files", ChangeKind::MoveTemporary, "/ram/tmp92");
    Margins m = check(staged);
    EXPECT_TRUE(m.ok);
    EXPECT_EQ(m.flash, 0);  // 8 blocks left, all of them the reserve
    EXPECT_EQ(m.boot, 0);

    stageChange(staged, "/flash/var/pdb/new/files", ChangeKind::MoveExisting, "/ram/tmp93");
    m = check(staged);
    EXPECT_FALSE(m.ok);
    EXPECT_EQ(m.flash, -4096);
  });
}

TEST(DiskSpace, ReplacedAndRemovedFilesGiveTheirBlocksBack) {
  onSmallFlash([] {
    writeBlocks("/flash/bin/old", 3);
    writeBlocks("/flash/big", 10);
    writeBlocks("/ram/new", 5);
    const int64_t before = check({}).flash / kBlock;  // 87

    StagedChanges staged;
    stageMove(staged, "/ram/new", "/flash/bin/old");
    EXPECT_EQ(check(staged).flash, (before - 5 + 3) * kBlock - 32768);

    StagedChanges removal;
    stageRemoval(removal, "/flash/big");
    stageSymlink(removal, "/flash/bootimage", "/flash/var/pdb/k/image");
    EXPECT_EQ(check(removal).flash, (before + 10) * kBlock);  // free grew: no reserve
  });
}

TEST(DiskSpace, RenameWithinFlashCostsNothing) {
  onSmallFlash([] {
    writeBlocks("/flash/tmpAbc", 50);
    const int64_t before = check({}).flash;
    StagedChanges staged;
    stageChange(staged, "/flash/var/pdb/x/image", ChangeKind::MoveTemporary, "/flash/tmpAbc");
    stageMove(staged, "/ram/vanished", "/flash/var/pdb/x/version");  // unreadable source: nothing
    EXPECT_EQ(check(staged).flash, before);
  });
}

TEST(DiskSpace, FilesBelowFlashBootCountOnBothAccounts) {
  ScratchRoot root;
  const bool passed = mounts::withTmpfs(root, {{"/flash", "400k"}, {"/flash/boot", "40k"}}, [&] {
    const bool inside = root.runInside([] {
      writeBlocks("/ram/kernel", 3);
      writeBlocks("/ram/image", 2);
      StagedChanges staged;
      stageMove(staged, "/ram/kernel", "/flash/boot/kernel");
      stageMove(staged, "/ram/image", "/flash/bootimage");  // "/flash" only, not below "/flash/boot"
      const Margins m = check(staged);
      EXPECT_FALSE(m.ok);
      EXPECT_EQ(m.boot, (10 - 3) * kBlock - 32768);
      EXPECT_EQ(m.flash, (100 - 3 - 2) * kBlock - 32768);
    });
    EXPECT_TRUE(inside);
  });
  EXPECT_TRUE(passed);
}

TEST(DiskSpace, LargeFileSystemsDoNotOverflow) {
  ScratchRoot root;
  // 17 TiB: more free blocks than a 32-bit count holds. tmpfs only promises
  // the size, so the mount costs nothing.
  const bool passed = mounts::withTmpfs(root, {{"/flash", "17t"}}, [&] {
    const bool inside = root.runInside([] {
      writeBlocks("/ram/file", 1);
      StagedChanges staged;
      stageMove(staged, "/ram/file", "/flash/file");
      const Margins m = check(staged);
      EXPECT_TRUE(m.ok);
      EXPECT_EQ(m.flash, (int64_t{17} << 40) - kBlock - 32768);
    });
    EXPECT_TRUE(inside);
  });
  EXPECT_TRUE(passed);
}

}  // namespace
