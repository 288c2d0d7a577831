// The start of every run through the real binary: the board guard, the
// command line, the root change.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/scratch_root.h"

namespace {

const char kUsage[] = "usage: installer [-q] [-r <root>] [-]\n";

bool hostPathExists(const char* path) {
  struct stat st;
  return ::lstat(path, &st) == 0;
}

}  // namespace

TEST(RunStart, EmulatorBoardDoesNothingWhateverTheArguments) {
  ScratchRoot root;
  std::vector<std::string> before = root.list("/");
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {}, {"--bogus"}, {"-r"}, {"--commit"}, {"--reinstall", "-"}}) {
    RunResult result = root.run(args, {{"board", "qemu_p9"}}, "not a package");
    EXPECT_EQ(0, result.status);
    EXPECT_EQ("", result.out);
    EXPECT_EQ("", result.err);
  }
  // Not even an impossible root is looked at.
  RunResult result = runProgram({INSTALLER_BINARY, "-r", root.host("/missing"), "--show"}, {{"board", "qemu_p9"}}, "");
  EXPECT_EQ(0, result.status);
  EXPECT_EQ("", result.out + result.err);
  EXPECT_EQ(before, root.list("/"));
  for (const char* board : {"qemu_p9x", "QEMU_P9", "qemu_p", ""}) {
    EXPECT_EQ(kUsage, root.run({"--bogus"}, {{"board", board}}).out) << board;
  }
}

TEST(RunStart, UnknownAndIncompleteWordsPrintUsageAndChangeNothing) {
  ScratchRoot root;
  std::vector<std::string> before = root.list("/");
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {"--bogus"}, {"-r"}, {"--month"}, {"-q", "--bogus"}, {"--show", "-x"}, {"--bogus", "--commit"}, {"-Q"},
           {"--SHOW"}, {"--show="}, {""}, {"-rr", "/x"}, {"--safe", "--cleanupx"}}) {
    RunResult result = root.run(args);
    EXPECT_EQ(0, result.status) << args.back();
    EXPECT_EQ(kUsage, result.out) << args.back();
    EXPECT_EQ("", result.err) << args.back();
  }
  EXPECT_EQ(before, root.list("/"));
  // Quiet mode does not silence the usage line: it is not a message.
  EXPECT_EQ(kUsage, root.run({"-q", "-r"}).out);
}

TEST(RunStart, ResumptionLineComesFirst) {
  ScratchRoot root;
  RunResult result = root.run({"--reinstall", "--bogus"});
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(std::string("\nResuming upgrade...\n") + kUsage, result.out);
  // Printed while the words are read, so also when the root is then refused.
  RunResult refused = runProgram({INSTALLER_BINARY, "--reinstall", "-r", root.host("/missing")}, {}, "");
  EXPECT_EQ(1, refused.status);
  EXPECT_EQ("\nResuming upgrade...\n", refused.out);
}

TEST(RunStart, StoppingWordsEndTheReading) {
  ScratchRoot root;
  // Without the stop, --bogus would end the run in the usage line.
  for (const char* stop : {"--cleanup", "-"}) {
    RunResult result = root.run({stop, "--bogus", "-r"}, {}, "");
    EXPECT_EQ(std::string::npos, result.out.find("usage:")) << stop;
  }
}

// That a run works inside the given root is shown by every run on a scratch root.
TEST(RunStart, RootThatCannotBeEnteredEndsTheRunAndChangesNothing) {
  ScratchRoot root;
  bool hostFlash = hostPathExists("/flash"), hostRam = hostPathExists("/ram");
  std::vector<std::string> before = root.list("/");
  root.write("/notadir", "x");
  for (const char* missing : {"/missing", "/notadir"}) {
    RunResult result = runProgram({INSTALLER_BINARY, "-r", root.host(missing), "-"}, {}, "");
    EXPECT_EQ(1, result.status) << missing;
    EXPECT_EQ("", result.out) << missing;
    EXPECT_EQ(std::string("chroot: ") + (missing[1] == 'm' ? "No such file or directory" : "Not a directory") + "\n",
              result.err);
  }
  EXPECT_FALSE(root.exists("/missing"));
  EXPECT_EQ("x", root.read("/notadir"));
  root.remove("/notadir");
  EXPECT_EQ(before, root.list("/"));
  // The old root was not used instead.
  EXPECT_EQ(hostFlash, hostPathExists("/flash"));
  EXPECT_EQ(hostRam, hostPathExists("/ram"));
}

TEST(RunStart, CommitRunsBeforeTheRootChange) {
  ScratchRoot root;
  // The root named after --commit is never entered, so its absence is no error.
  RunResult result = root.runChrooted({"-r", "/missing", "--commit", "--bogus"});
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(0u, result.out.find("finishing install... ")) << result.out;
  EXPECT_EQ(std::string::npos, result.err.find("chroot")) << result.err;
  RunResult cancel = root.runChrooted({"-r", "/missing", "--cancel", "--bogus"});
  EXPECT_EQ(0, cancel.status);
  EXPECT_EQ("", cancel.out);
  EXPECT_EQ(std::string::npos, cancel.err.find("chroot")) << cancel.err;
}
