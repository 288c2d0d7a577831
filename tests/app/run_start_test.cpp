// The start of every run: the board guard, the command line, the root
// change; and the console rule the end-to-end checks read outputs by.
#include <gtest/gtest.h>

#include "support/scratch_root.h"

namespace {

const std::string kUsage = "usage: installer [-q] [-r <root>] [-]\n";
const std::string kResuming = "\nResuming upgrade...\n";

// Runs of the binary; "@" in a word stands for the scratch root's path. No
// run may change the root, nor the host's "/flash" or "/ram".
TEST(RunStart, Invocations) {
  const struct {
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    int status;
    std::string out, err = "";
  } rows[] = {
      // The emulator board has no package system, whatever the words.
      {{"--bogus"}, {{"board", "qemu_p9"}}, 0, ""},
      {{"-r", "@/missing", "--reinstall", "-"}, {{"board", "qemu_p9"}}, 0, ""},
      {{"-r", "@", "--bogus"}, {{"board", "qemu_p9x"}}, 0, kUsage},
      // Unknown and incomplete words; quiet mode does not silence the usage line.
      {{"-r", "@", "-q", "-r"}, {}, 0, kUsage},
      {{"-r", "@", "--month"}, {}, 0, kUsage},
      {{"-r", "@", "--safe", "--cleanupx"}, {}, 0, kUsage},
      {{"--bogus", "--commit"}, {}, 0, kUsage},
      // The resumption line is printed as the word is read, before any refusal.
      {{"-r", "@", "--reinstall", "--bogus"}, {}, 0, kResuming + kUsage},
      {{"--reinstall", "-r", "@/missing"}, {}, 1, kResuming, "chroot: No such file or directory\n"},
      // A root that cannot be entered ends the run; the old root is not used instead.
      {{"-r", "@/notadir", "-"}, {}, 1, "", "chroot: Not a directory\n"},
      // The later root counts; argument words take the next word whatever it is.
      {{"-r", "@/missing", "-r", "@", "--cleanup"}, {}, 0, ""},
      {{"-r", "--commit"}, {}, 1, "", "chroot: No such file or directory\n"},
      {{"-r", "@", "--month", "--bogus", "-b", "--force", "--noupgrade", "-i", "--cleanup"}, {}, 0, ""},
      // "--cleanup" and "-" end the reading: the words after them are not looked at.
      {{"-r", "@", "--cleanup", "--bogus", "-r"}, {}, 0, ""},
      {{"-r", "@", "-", "--bogus", "-r"}, {}, 1, "ERROR: installation of standard input failed: broken package\n"},
      {{"-r", "@", "-q", "-", "-q"}, {}, 1, ""},
  };
  const auto hostPaths = [] { return runProgram({"/bin/ls", "-d", "/flash", "/ram"}, {}, "").out; };
  const std::string hostBefore = hostPaths();
  ScratchRoot root;
  root.write("/notadir", "x");
  const std::vector<std::string> before = root.list("/");
  for (const auto& row : rows) {
    std::vector<std::string> argv = {INSTALLER_BINARY};
    for (std::string word : row.args) argv.push_back(word[0] == '@' ? root.path() + word.substr(1) : word);
    const RunResult run = runProgram(argv, row.env, "");
    EXPECT_EQ(run.status, row.status) << argv.back();
    EXPECT_EQ(run.out, row.out) << argv.back();
    EXPECT_EQ(run.err, row.err) << argv.back();
  }
  root.remove("/flash/postlog");  // the log of the run from standard input
  EXPECT_EQ(root.list("/"), before);
  EXPECT_EQ(hostPaths(), hostBefore);
}

// "--commit" and "--cancel" run before any root change, so a root named
// before them is never entered.
TEST(RunStart, CommitAndCancelComeBeforeTheRoot) {
  ScratchRoot root;
  RunResult run = root.runChrooted({"-r", "/missing", "--commit", "--bogus"});
  EXPECT_EQ(run.out + run.err, "finishing install... \b \n");
  run = root.runChrooted({"-r", "/missing", "--cancel", "--bogus"});
  EXPECT_EQ(run.out + run.err, "");
  EXPECT_EQ(run.status, 0);
}

// The plain output drops progress lines that were erased or overwritten and
// never ended; every exact output comparison relies on it.
TEST(ScratchRoot, OutPlainDropsOverwrittenProgressLines) {
  const std::string raw = kResuming + "\x1b[?25l\renabling foo-1.0...\r\x1b[?25h\r" + std::string(79, ' ') +
                          "\rWARNING: careful\nenabling foo-1.0...\x1b[?25l\r                   \r\x1b[?25h"
                          "enabled foo-1.0\n\x1b[?25l\rinstalling bar [###]\r\x1b[?25h";
  const RunResult run = runProgram({"/bin/sh", "-c", "printf '%s' \"$1\"", "sh", raw}, {}, "");
  EXPECT_EQ(run.out, raw);
  EXPECT_EQ(run.outPlain, kResuming + "WARNING: careful\nenabled foo-1.0\n");
}

}  // namespace
