// Where openAtomic puts a temporary (in the program's folder on the target's
// file system when there is room, else on "/ram" or "/tmp"), on small tmpfs
// mounts in a private namespace.
#include "staging/atomic_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "staging/temporary_files.h"
#include "support/fixtures.h"

using namespace fixtures;

namespace {

TEST(AtomicWriter, ParentDirectoryAndMakeDirectories) {
  const std::pair<const char*, const char*> cases[] = {
      {"/flash/var/pdb/", "/flash/var"}, {"/flash/var/pdb//", "/flash/var"}, {"/flash/var/pdb/foo/version", "/flash/var/pdb/foo"},
      {"/flash", "/"}, {"image", "."}, {"/", "."}, {"//", "."}, {"", "."}};
  for (const auto& [path, parent] : cases) EXPECT_EQ(parentDirectory(path), parent) << path;
  ScratchRoot root;
  makeDirectories(root.host("/a/b/c/"));
  EXPECT_EQ(fileMode(root.host("/a/b/c")), 0755u);
  writeFile(root.host("/file"), "x");
  makeDirectories(root.host("/file/sub/deeper"));  // silently impossible
  EXPECT_FALSE(pathExists(root.host("/file/sub")));
}

// Runs fn chrooted to a scratch root whose "/flash" is a tmpfs of the given
// size, and "/flash/boot" one of its own.
bool onFlash(const std::string& size, const std::function<void()>& fn) {
  ScratchRoot root;
  return runIsolated(fn, {{root.host("/flash"), size}, {root.host("/flash/boot"), "1m"}}, root.path());
}

std::string folderOf(const StagedChanges& set, const std::string& target) {
  auto it = set.find(target);
  return it == set.end() ? "<not staged>" : parentDirectory(it->second.data);
}

TEST(AtomicWriter, TemporaryGoesWhereThereIsRoom) {
  EXPECT_TRUE(onFlash("64k", [] {
    // 65536 bytes free is not more than hint + 65536.
    StagedChanges set;
    AtomicFile out;
    ASSERT_TRUE(openAtomic(out, set, "/flash/PCKGS_CHANGED", 1, 0));
    out.close();
    EXPECT_EQ(folderOf(set, "/flash/PCKGS_CHANGED"), "/ram/.installer");
    EXPECT_EQ(set["/flash/PCKGS_CHANGED"].kind, ChangeKind::MoveTemporary);
    EXPECT_EQ(fileMode(set["/flash/PCKGS_CHANGED"].data), 0600u);
    // Without a hint: "/ram", or "/tmp" when there is no "/ram"; neither: nothing staged.
    ASSERT_TRUE(openAtomic(out, set, "/flash/a", 0, 0));
    EXPECT_EQ(folderOf(set, "/flash/a"), "/ram/.installer");
    discardChanges(set);
    removeEmptyTemporaryFolders();
    ASSERT_EQ(rmdir("/ram"), 0);
    StagedChanges withoutRam;  // a run learns what its folders are once
    ASSERT_TRUE(openAtomic(out, withoutRam, "/flash/b", 0, 0));
    EXPECT_EQ(folderOf(withoutRam, "/flash/b"), "/tmp/.installer");
    discardChanges(withoutRam);
    removeEmptyTemporaryFolders();
    ASSERT_EQ(rmdir("/tmp"), 0);
    StagedChanges neither;
    EXPECT_FALSE(openAtomic(out, neither, "/flash/c", 0, 0));
    EXPECT_TRUE(neither.empty());
  }));
  EXPECT_TRUE(onFlash("1m", [] {
    StagedChanges set;
    AtomicFile out;
    ASSERT_TRUE(openAtomic(out, set, "/flash/PCKGS_CHANGED", 1, 0));
    EXPECT_EQ(folderOf(set, "/flash/PCKGS_CHANGED"), "/flash/.installer");
    // The nearest existing ancestor decides: its file system and its room.
    mkdir("/flash/var", 0755);
    ASSERT_TRUE(openAtomic(out, set, "/flash/var/pdb/newpkg/version", 10, 0));
    EXPECT_EQ(folderOf(set, "/flash/var/pdb/newpkg/version"), "/flash/.installer");
    ASSERT_TRUE(openAtomic(out, set, "/flash/boot/new/kernel", 10, 0));
    EXPECT_EQ(folderOf(set, "/flash/boot/new/kernel"), "/flash/boot/.installer");
    ASSERT_TRUE(openAtomic(out, set, "/flash/boot/big", 1000 * 1024, 0));
    EXPECT_EQ(folderOf(set, "/flash/boot/big"), "/ram/.installer");
    // Room is more than the hint and a spare 64 KiB, counting what the run
    // took before (1 + 10 bytes here): exactly that much is not enough.
    const uint32_t left = 1024 * 1024 - 11 - 65536;
    ASSERT_TRUE(openAtomic(out, set, "/flash/big", left, 0));
    EXPECT_EQ(folderOf(set, "/flash/big"), "/ram/.installer");
    ASSERT_TRUE(openAtomic(out, set, "/flash/fits", left - 1, 0));
    EXPECT_EQ(folderOf(set, "/flash/fits"), "/flash/.installer");
  }));
  // Exactly 4 GiB free: the product of free blocks and block size is 0 when
  // it wraps in 32 bits, which would send every file to RAM.
  EXPECT_TRUE(onFlash("4g", [] {
    StagedChanges set;
    AtomicFile out;
    ASSERT_TRUE(openAtomic(out, set, "/flash/file", 1000, 0));
    EXPECT_EQ(folderOf(set, "/flash/file"), "/flash/.installer");
  }));
}

TEST(AtomicWriter, ModeAndReplacement) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    const std::string target = "/flash/bin/tool";
    StagedChanges set;
    AtomicFile out;
    ASSERT_TRUE(openAtomic(out, set, target, 5, 0x81ED));  // regular file, 0755
    out << "first";
    out.close();
    ASSERT_TRUE(out.good());
    const std::string first = set[target].data;
    EXPECT_EQ(fileMode(first), 0755u);
    EXPECT_EQ(readFile(first), "first");
    // A second write of the same target replaces the first temporary.
    AtomicFile buffered;
    ASSERT_TRUE(openAtomic(buffered, set, target, 10000, 04750));
    const std::string second = set[target].data;
    EXPECT_FALSE(pathExists(first));
    EXPECT_EQ(set.size(), 1u);
    EXPECT_EQ(fileMode(second), 04750u);
    for (int i = 0; i < 100; ++i) buffered << std::string(100, 'p');
    buffered.close();
    EXPECT_TRUE(buffered.good());
    EXPECT_EQ(readFile(second), std::string(10000, 'p'));
    EXPECT_EQ(set[target].size, 10000u);  // for the disk-space estimate
  }));
}

}  // namespace
