#include "staging/atomic_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "isolated_run.h"

namespace {

TEST(ParentDirectory, Forms) {
  EXPECT_EQ(parentDirectory("/flash/var/pdb/"), "/flash/var");
  EXPECT_EQ(parentDirectory("/flash/var/pdb//"), "/flash/var");
  EXPECT_EQ(parentDirectory("/flash/var/pdb/foo/version"), "/flash/var/pdb/foo");
  EXPECT_EQ(parentDirectory("/flash"), "/");
  EXPECT_EQ(parentDirectory("image"), ".");
  EXPECT_EQ(parentDirectory("/"), ".");
  EXPECT_EQ(parentDirectory("//"), ".");
  EXPECT_EQ(parentDirectory(""), ".");
}

TEST(MakeDirectories, CreatesMissingAncestors) {
  TestFolder dir;
  makeDirectories(dir / "a/b/c");
  struct stat st;
  ASSERT_EQ(stat((dir / "a/b/c").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  makeDirectories(dir / "a/b/c");  // existing: nothing happens
  makeDirectories(dir / "a/b/c/");
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  // Under a file nothing can be made; the failure is silent.
  writeFile(dir / "file", "x");
  makeDirectories(dir / "file/sub/deeper");
  EXPECT_FALSE(pathExists(dir / "file/sub"));
}

// A router root with a "/flash" of the given tmpfs size and a "/ram".
struct SmallFlash {
  TestFolder root;
  SmallFlash() {
    mkdir((root / "flash").c_str(), 0755);
    mkdir((root / "ram").c_str(), 0755);
  }
  bool run(const std::function<void()>& fn, const std::string& flashOptions) {
    return runIsolated(fn, {{root / "flash", flashOptions}}, root.path());
  }
};

std::string folderOf(const StagedChanges& set, const std::string& target) {
  auto it = set.find(target);
  if (it == set.end()) return "<not staged>";
  return parentDirectory(it->second.data);
}

TEST(OpenAtomic, TemporaryGoesWhereThereIsRoom) {
  SmallFlash r;
  // 64 KiB of tmpfs: 65536 bytes free, not more than hint + 65536.
  EXPECT_ISOLATED(r.run(
      [] {
        StagedChanges set;
        std::ofstream out;
        ASSERT_TRUE(openAtomic(out, set, "/flash/PCKGS_CHANGED", 1, 0));
        out.close();
        EXPECT_EQ(folderOf(set, "/flash/PCKGS_CHANGED"), "/ram");
        EXPECT_EQ(set["/flash/PCKGS_CHANGED"].kind, ChangeKind::MoveTemporary);
        EXPECT_EQ(fileMode(set["/flash/PCKGS_CHANGED"].data), 0600u);
        EXPECT_EQ(readFile(set["/flash/PCKGS_CHANGED"].data), "");
      },
      "size=64k"));
  EXPECT_ISOLATED(r.run(
      [] {
        StagedChanges set;
        std::ofstream out;
        ASSERT_TRUE(openAtomic(out, set, "/flash/PCKGS_CHANGED", 1, 0));
        EXPECT_EQ(folderOf(set, "/flash/PCKGS_CHANGED"), "/flash");
        // A file that does not fit beside the spare 64 KiB goes to RAM.
        ASSERT_TRUE(openAtomic(out, set, "/flash/big", 200 * 1024, 0));
        EXPECT_EQ(folderOf(set, "/flash/big"), "/ram");
      },
      "size=256k"));
}

TEST(OpenAtomic, RoomIsComputedBeyondFourGiB) {
  SmallFlash r;
  // Exactly 4 GiB free: the product of free blocks and block size is 0 when
  // it wraps in 32 bits, which would send every file to RAM.
  EXPECT_ISOLATED(r.run(
      [] {
        StagedChanges set;
        std::ofstream out;
        ASSERT_TRUE(openAtomic(out, set, "/flash/file", 1000, 0));
        EXPECT_EQ(folderOf(set, "/flash/file"), "/flash");
      },
      "size=4g"));
}

TEST(OpenAtomic, NearestExistingAncestorDecides) {
  SmallFlash r;
  EXPECT_ISOLATED(r.run(
      [] {
        mkdir("/flash/var", 0755);
        StagedChanges set;
        std::ofstream out;
        ASSERT_TRUE(openAtomic(out, set, "/flash/var/pdb/newpkg/version", 10, 0));
        EXPECT_EQ(folderOf(set, "/flash/var/pdb/newpkg/version"), "/flash/var");
      },
      "size=1m"));
}

TEST(OpenAtomic, WithoutHintUsesRamOrTmp) {
  TestFolder root;
  mkdir((root / "ram").c_str(), 0755);
  mkdir((root / "tmp").c_str(), 0755);
  EXPECT_ISOLATED(runIsolated(
      [] {
        StagedChanges set;
        std::ofstream out;
        ASSERT_TRUE(openAtomic(out, set, "/flash/a", 0, 0));
        EXPECT_EQ(folderOf(set, "/flash/a"), "/ram");
        discardChanges(set);
        ASSERT_EQ(rmdir("/ram"), 0);
        ASSERT_TRUE(openAtomic(out, set, "/flash/b", 0, 0));
        EXPECT_EQ(folderOf(set, "/flash/b"), "/tmp");
      },
      {}, root.path()));
}

TEST(OpenAtomic, FailedTemporaryStagesNothing) {
  TestFolder root;  // neither "/ram" nor "/tmp" exist
  EXPECT_ISOLATED(runIsolated(
      [] {
        StagedChanges set;
        std::ofstream out;
        EXPECT_FALSE(openAtomic(out, set, "/flash/a", 0, 0));
        EXPECT_FALSE(out.good());
        EXPECT_TRUE(set.empty());
      },
      {}, root.path()));
}

TEST(OpenAtomic, LongDirectoryFallsBackToRam) {
  SmallFlash r;
  EXPECT_ISOLATED(r.run(
      [] {
        // "/flash/" plus 122 characters is a 129-character directory: it
        // still fits; one more does not.
        std::string fits = "/flash/" + std::string(122, 'd');
        std::string tooLong = "/flash/" + std::string(123, 'd');
        ASSERT_EQ(mkdir(fits.c_str(), 0755), 0);
        ASSERT_EQ(mkdir(tooLong.c_str(), 0755), 0);
        StagedChanges set;
        std::ofstream out;
        ASSERT_TRUE(openAtomic(out, set, fits + "/f", 1, 0));
        EXPECT_EQ(folderOf(set, fits + "/f"), fits);
        ASSERT_TRUE(openAtomic(out, set, tooLong + "/f", 1, 0));
        EXPECT_EQ(folderOf(set, tooLong + "/f"), "/ram");
      },
      "size=1m"));
}

TEST(OpenAtomic, ModeAndReplacement) {
  TestFolder dir;
  StagedChanges set;
  std::ofstream out;
  ASSERT_TRUE(openAtomic(out, set, dir / "bin/tool", 5, 0x81ED));  // regular file, 0755
  out << "first";
  out.close();
  ASSERT_TRUE(out.good());
  std::string first = set[dir / "bin/tool"].data;
  EXPECT_EQ(parentDirectory(first), dir.path());  // beside the target, which has room
  EXPECT_EQ(fileMode(first), 0755u);
  EXPECT_EQ(readFile(first), "first");

  // A second write of the same target replaces the first temporary.
  ASSERT_TRUE(openAtomic(out, set, dir / "bin/tool", 6, 04750));
  out << "second";
  out.close();
  std::string second = set[dir / "bin/tool"].data;
  EXPECT_NE(first, second);
  EXPECT_FALSE(pathExists(first));
  EXPECT_EQ(set.size(), 1u);
  EXPECT_EQ(fileMode(second), 04750u);
  EXPECT_EQ(readFile(second), "second");
}

TEST(OpenAtomic, KeepsBufferGivenBeforehand) {
  TestFolder dir;
  static char buffer[65536];
  StagedChanges set;
  std::ofstream out;
  out.rdbuf()->pubsetbuf(buffer, sizeof buffer);
  ASSERT_TRUE(openAtomic(out, set, dir / "payload", 20000, 0));
  std::string piece(100, 'p');
  for (int i = 0; i < 200; ++i) out.write(piece.data(), piece.size());
  // 20000 bytes fit the 64 KiB buffer: nothing reached the file yet.
  struct stat st;
  ASSERT_EQ(stat(set[dir / "payload"].data.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 0);
  out.close();
  EXPECT_TRUE(out.good());
  EXPECT_EQ(readFile(set[dir / "payload"].data), std::string(20000, 'p'));
}

}  // namespace
