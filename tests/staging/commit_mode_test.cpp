// The "--commit" and "--cancel" modes, in-process in a changed root and
// end to end through the installer on a scratch root, so "/ram/MANIFEST"
// is always the scratch root's.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "isolated_run.h"
#include "staging/commit.h"
#include "support/scratch_root.h"

namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

// A root in which a safe run left a manifest and its temporaries.
struct WaitingRoot {
  TestFolder root;
  WaitingRoot() {
    for (const char* d : {"ram", "tmp", "flash", "flash/old", "flash/var"}) mkdir((root / d).c_str(), 0755);
    writeFile(root / "ram/tmpAAAAAA", "new a", 0755);
    writeFile(root / "ram/tmpBBBBBB", "new b");
    writeFile(root / "flash/old/file", "old");
    writeFile(root / "flash/b", "old b");
    writeFile(root / "ram/MANIFEST",
              "M /flash/a /ram/tmpAAAAAA\n"
              "M /flash/b /ram/tmpBBBBBB\n"
              "L /flash/link /flash/a\n"
              "U /flash/old\n");
  }
};

TEST(CommitMode, CommitsTheManifestAndKeepsIt) {
  WaitingRoot w;
  EXPECT_ISOLATED(runIsolated(
      [] {
        CaptureStdout();
        runCommitMode();
        EXPECT_EQ(GetCapturedStdout(), "finishing install... \b \n");
      },
      {}, w.root.path()));
  EXPECT_EQ(readFile(w.root / "flash/a"), "new a");
  EXPECT_EQ(fileMode(w.root / "flash/a"), 0755u);
  EXPECT_EQ(readFile(w.root / "flash/b"), "new b");
  char text[32] = {};
  ASSERT_GT(readlink((w.root / "flash/link").c_str(), text, sizeof text - 1), 0);
  EXPECT_STREQ(text, "/flash/a");
  EXPECT_FALSE(pathExists(w.root / "flash/old"));
  EXPECT_TRUE(pathExists(w.root / "ram/MANIFEST"));
  EXPECT_EQ(listFolder(w.root / "ram"), std::vector<std::string>{"MANIFEST"});
}

TEST(CommitMode, MissingManifestCommitsNothing) {
  TestFolder root;
  mkdir((root / "ram").c_str(), 0755);
  mkdir((root / "tmp").c_str(), 0755);  // for capturing the output
  EXPECT_ISOLATED(runIsolated(
      [] {
        CaptureStdout();
        runCommitMode();
        EXPECT_EQ(GetCapturedStdout(), "finishing install... \b \n");
      },
      {}, root.path()));
  EXPECT_EQ(listFolder(root / "ram"), std::vector<std::string>{});
}

TEST(CancelMode, DeletesOnlyTheManifest) {
  WaitingRoot w;
  EXPECT_ISOLATED(runIsolated([] { runCancelMode(); }, {}, w.root.path()));
  EXPECT_FALSE(pathExists(w.root / "ram/MANIFEST"));
  // The temporaries named in the manifest stay, and flash is unchanged.
  EXPECT_EQ(readFile(w.root / "ram/tmpAAAAAA"), "new a");
  EXPECT_EQ(readFile(w.root / "ram/tmpBBBBBB"), "new b");
  EXPECT_EQ(readFile(w.root / "flash/b"), "old b");
  EXPECT_EQ(readFile(w.root / "flash/old/file"), "old");
  EXPECT_FALSE(pathExists(w.root / "flash/a"));
  // A second cancel finds nothing and is no error.
  EXPECT_ISOLATED(runIsolated([] { runCancelMode(); }, {}, w.root.path()));
}

// Through the real binary: the modes run before any change of root.
void writeWaitingManifest(ScratchRoot& s) {
  s.write("/ram/tmpAAAAAA", "new a", 0755);
  s.write("/ram/tmpBBBBBB", "new b");
  s.write("/flash/var/pdb/gone/version", "1");
  s.write("/ram/MANIFEST",
          "M /flash/a /ram/tmpAAAAAA\n"
          "M /flash/sub/b /ram/tmpBBBBBB\n"
          "U /flash/var/pdb/gone/\n"
          "X ignored line\n"
          "M /flash/missing /ram/tmpNOPE00\n");
}

TEST(CommitMode, EndToEnd) {
  ScratchRoot s;
  writeWaitingManifest(s);
  RunResult r = s.runChrooted({"--commit", "--bogus"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "finishing install... \b \n");
  EXPECT_EQ(r.err, "rename: No such file or directory\n");
  EXPECT_EQ(s.read("/flash/a"), "new a");
  EXPECT_EQ(s.read("/flash/sub/b"), "new b");
  EXPECT_FALSE(s.exists("/flash/var/pdb/gone"));
  EXPECT_TRUE(s.exists("/ram/MANIFEST"));
  EXPECT_FALSE(s.exists("/ram/tmpAAAAAA"));
}

TEST(CancelMode, EndToEnd) {
  ScratchRoot s;
  writeWaitingManifest(s);
  RunResult r = s.runChrooted({"--cancel"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_FALSE(s.exists("/ram/MANIFEST"));
  EXPECT_EQ(s.read("/ram/tmpAAAAAA"), "new a");
  EXPECT_EQ(s.read("/ram/tmpBBBBBB"), "new b");
  EXPECT_FALSE(s.exists("/flash/a"));
  EXPECT_EQ(s.read("/flash/var/pdb/gone/version"), "1");
}

}  // namespace
