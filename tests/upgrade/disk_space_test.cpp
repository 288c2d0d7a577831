// The disk-space estimate on real file systems: tmpfs mounts of known size
// stand in for "/flash" and "/flash/boot"; "/ram" stays on the scratch root's
// own file system, so moves from there cross devices.
#include "upgrade/disk_space.h"

#include <gtest/gtest.h>

#include <fstream>

#include "staging/atomic_writer.h"
#include "support/fixtures.h"

using namespace fixtures;

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

// Runs fn chrooted to a scratch root with tmpfs mounts {router path, size}.
void onFlash(const std::vector<std::pair<std::string, std::string>>& mounts, const std::function<void()>& fn) {
  ScratchRoot root;
  std::vector<std::pair<std::string, std::string>> hostMounts;
  for (const auto& [path, size] : mounts) hostMounts.push_back({root.host(path), size});
  EXPECT_TRUE(runIsolated(fn, hostMounts, root.path()));
}

// "/flash" of 100 blocks, no "/flash/boot" at all.
void onSmallFlash(const std::function<void()>& fn) { onFlash({{"/flash", "400k"}}, fn); }

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
  onFlash({{"/flash", "400k"}, {"/flash/boot", "40k"}}, [] {
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
}

TEST(DiskSpace, LargeFileSystemsDoNotOverflow) {
  // 17 TiB: more free blocks than a 32-bit count holds. tmpfs only promises
  // the size, so the mount costs nothing.
  onFlash({{"/flash", "17t"}}, [] {
    writeBlocks("/ram/file", 1);
    StagedChanges staged;
    stageMove(staged, "/ram/file", "/flash/file");
    const Margins m = check(staged);
    EXPECT_TRUE(m.ok);
    EXPECT_EQ(m.flash, (int64_t{17} << 40) - kBlock - 32768);
  });
}

}  // namespace
