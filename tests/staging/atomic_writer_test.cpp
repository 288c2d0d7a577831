// Where openAtomic puts a temporary, on small tmpfs mounts in a private namespace.
#include "staging/atomic_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "staging/temporary_files.h"
#include "support/fixtures.h"

using namespace fixtures;

namespace {

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

// The temporary gets the mode asked for, special bits too; a second write of
// the same target replaces the first temporary, and its size feeds the
// disk-space estimate.
TEST(AtomicWriter, ModeAndReplacement) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    StagedChanges set;
    AtomicFile out, buffered;
    ASSERT_TRUE(openAtomic(out, set, "/flash/bin/tool", 5, 0x81ED));  // regular file, 0755
    out << "first";
    out.close();
    const std::string first = set["/flash/bin/tool"].data;
    EXPECT_EQ(fileMode(first), 0755u);
    ASSERT_TRUE(openAtomic(buffered, set, "/flash/bin/tool", 10000, 04750));
    for (int i = 0; i < 100; ++i) buffered << std::string(100, 'p');
    buffered.close();
    EXPECT_FALSE(pathExists(first));
    EXPECT_EQ(fileMode(set["/flash/bin/tool"].data), 04750u);
    EXPECT_EQ(readFile(set["/flash/bin/tool"].data), std::string(10000, 'p'));
    EXPECT_EQ(set["/flash/bin/tool"].size, 10000u);
  }));
}

}  // namespace
