// The end-to-end helper itself: other tests trust what it reports.
#include "support/scratch_root.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

TEST(ScratchRoot, LayoutAndRemoval) {
  std::string kept;
  {
    ScratchRoot root;
    kept = root.path();
    for (const char* dir : {"/flash/var/pdb", "/ram", "/rw/pckg/.download", "/rw/pckg/.images", "/flash/rw/pckg",
                            "/flash/var/pckg", "/tmp"})
      EXPECT_TRUE(root.exists(dir)) << dir;
    root.write("/flash/var/pdb/foo/version", "100663296\n");
    EXPECT_EQ("100663296\n", root.read("/flash/var/pdb/foo/version"));
    // A link out of the root must not lead the removal outside.
    ASSERT_EQ(0, ::symlink(INSTALLER_SOURCE_DIR, root.host("/flash/escape").c_str()));
    EXPECT_EQ((std::vector<std::string>{"escape", "var/pdb/foo/version"}), root.list("/flash"));
    root.remove("/flash/var/pdb/foo");
    EXPECT_FALSE(root.exists("/flash/var/pdb/foo"));
    EXPECT_TRUE(root.exists("/flash/var/pdb"));
  }
  struct stat st;
  EXPECT_NE(0, ::lstat(kept.c_str(), &st));
  EXPECT_EQ(0, ::lstat(INSTALLER_SOURCE_DIR "/CMakeLists.txt", &st));
}

// Input far larger than a pipe's buffer is fed while both outputs are
// drained; only PATH and the given variables reach the program.
TEST(ScratchRoot, RunFeedsLargeInputAndPassesOnlyTheGivenEnvironment) {
  std::string input(3 << 20, 'x');
  RunResult result = runProgram({"/bin/sh", "-c", "cat; env >&2; exit 3"}, {{"board", "x86"}}, input);
  EXPECT_EQ(3, result.status);
  EXPECT_TRUE(input == result.out);
  EXPECT_NE(std::string::npos, result.err.find("board=x86\n"));
  EXPECT_EQ(std::string::npos, result.err.find("HOME="));
}

TEST(ScratchRoot, OutPlainDropsOverwrittenProgressLines) {
  std::string raw =
      "\nResuming upgrade...\n"
      "\x1b[?25l\renabling foo-1.0...\r\x1b[?25h"
      "\r" + std::string(79, ' ') + "\rWARNING: careful\n"
      "enabling foo-1.0..."
      "\x1b[?25l\r                   \r\x1b[?25h"
      "enabled foo-1.0\n"
      "\x1b[?25l\rinstalling bar [###]\r\x1b[?25h";
  RunResult result = runProgram({"/bin/sh", "-c", "printf '%s' \"$1\"", "sh", raw}, {}, "");
  EXPECT_EQ(raw, result.out);
  EXPECT_EQ("\nResuming upgrade...\nWARNING: careful\nenabled foo-1.0\n", result.outPlain);
}

TEST(ScratchRoot, RunInsideReportsFailures) {
  ScratchRoot root;
  EXPECT_FALSE(root.runInside([] {
    ::close(1);  // the child's deliberate failure need not show in the log
    ADD_FAILURE() << "deliberate failure inside the child";
  }));
}

TEST(ScratchRoot, RunChrootedLeavesNoMountPointsBehind) {
  ScratchRoot root;
  RunResult result = root.runChrooted({"--bogus"});
  EXPECT_EQ(0, result.status) << result.err;
  EXPECT_EQ("usage: installer [-q] [-r <root>] [-]\n", result.out);
  std::vector<std::string> top = root.list("/");
  EXPECT_TRUE(std::find(top.begin(), top.end(), ".installer") == top.end());
  EXPECT_FALSE(root.exists("/usr"));
  EXPECT_FALSE(root.exists("/lib"));
}
