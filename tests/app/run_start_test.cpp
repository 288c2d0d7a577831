// The start of every run: the board guard, the command line, the root change.
#include <gtest/gtest.h>

#include "support/scratch_root.h"

namespace {

const std::string kUsage = "usage: installer [-q] [-r <root>] [-]\n";
const std::string kResuming = "\nResuming upgrade...\n";

// "@" in a word stands for the scratch root's path. No run may change the
// root, nor the host's "/flash" or "/ram".
TEST(RunStart, Invocations) {
  const struct {
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    int status;
    std::string out, err = "";
  } rows[] = {
      // The emulator board has no package system, whatever the words.
      {{"-r", "@/missing", "--reinstall", "--bogus", "-"}, {{"board", "qemu_p9"}}, 0, ""},
      {{"-r", "@", "--bogus"}, {{"board", "qemu_p9x"}}, 0, kUsage},
      // Unknown and incomplete words; quiet mode does not silence the usage line.
      {{"-r", "@", "-q", "-r"}, {}, 0, kUsage},
      {{"-r", "@", "--month"}, {}, 0, kUsage},
      {{"-r", "@", "--safe", "--cleanupx"}, {}, 0, kUsage},
      {{"--bogus", "--commit"}, {}, 0, kUsage},
      // The resumption line comes as the word is read, before any refusal.
      {{"-r", "@", "--reinstall", "--bogus"}, {}, 0, kResuming + kUsage},
      {{"--reinstall", "-r", "@/missing"}, {}, 1, kResuming, "chroot: No such file or directory\n"},
      {{"-r", "@/notadir", "-"}, {}, 1, "", "chroot: Not a directory\n"},
      // The later root counts; argument words take the next word whatever it is.
      {{"-r", "@/missing", "-r", "@", "--cleanup"}, {}, 0, ""},
      {{"-r", "--commit"}, {}, 1, "", "chroot: No such file or directory\n"},
      {{"-r", "@", "--month", "--bogus", "-b", "--force", "--noupgrade", "-i", "--cleanup"}, {}, 0, ""},
      // "--cleanup" and "-" end the reading.
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

}  // namespace
