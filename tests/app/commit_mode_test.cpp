// The start of every run; "--safe", "--commit", "--cancel" and the post-commit program.
#include "app/scenario.h"

using namespace scenario;

namespace {

// A static post-commit program that leaves its name, word count and working folder.
std::string postCommitProgram() {
  ScratchRoot scratch;
  const std::string source = scratch.host("/tmp/varn.c"), program = scratch.host("/tmp/varn");
  writeFile(source,
            "#include <stdio.h>\n#include <unistd.h>\n"
            "int main(int argc, char** argv) {\n"
            "  char cwd[256]; FILE* f = fopen(\"/varn-ran\", \"w\");\n"
            "  if (!f || !getcwd(cwd, sizeof cwd)) return 1;\n"
            "  fprintf(f, \"%s %d %s\\n\", argv[0], argc, cwd); return fclose(f);\n}\n");
  const RunResult cc = runProgram({"/usr/bin/cc", "-static", "-o", program, source}, {{"PATH", "/usr/bin:/bin"}}, "");
  EXPECT_EQ(cc.status, 0) << cc.err;
  return readFile(program);
}

// "--safe" only stages; "--cancel" (before the root and other words) leaves everything as before, "--commit"
// lands it. The post-commit program runs after a committed upgrade only, not after "--safe" and its "--commit".
TEST(SafeMode, CancelOrCommitAndThePostCommitProgram) {
  const std::string varn = postCommitProgram();
  const auto place = [&](ScratchRoot& root) { root.write("/flash/bin/varn", varn, 0755); };
  const std::string alpha = pack("alpha", "1.0", {{"/bin/alpha", "a"}});
  const Tree installed = entry("alpha", "1.0", {{"/bin/alpha", "a"}}) + Tree{{"/flash/bin/varn", varn}} + kMarker;
  ScratchRoot root;
  place(root);
  root.write("/rw/pckg/.download/alpha.qpk", alpha);
  const State before = snapshot(root);
  const auto safeRun = [&] {
    EXPECT_EQ(root.run({"--safe"}).outPlain, "installed alpha-1.0\n");
    Tree waiting = flashTree(root);  // the temporaries wait on flash, where there is room
    std::erase_if(waiting, [](const auto& entry) { return entry.first.rfind("/flash/.installer/", 0) == 0; });
    EXPECT_EQ(waiting, (Tree{{"/flash/bin/varn", varn}}));
  };
  safeRun();
  RunResult r = root.runChrooted({"-r", "/missing", "--cancel", "--bogus"});
  EXPECT_EQ(std::make_pair(r.status, r.out + r.err), std::make_pair(0, std::string()));
  EXPECT_EQ(differences(before, snapshot(root)), std::vector<std::string>{});
  safeRun();
  r = root.runChrooted({"-r", "/missing", "--commit", "--bogus"});
  EXPECT_EQ(std::make_pair(r.status, r.out + r.err), std::make_pair(0, std::string("finishing install... \b \n")));
  EXPECT_EQ(differences(flashTree(root), installed), std::vector<std::string>{});
  play({.what = "committed at once", .uploads = {{"alpha.qpk", alpha}}, .out = "installed alpha-1.0\n",
        .flash = installed + Tree{{"/flash/varn-ran", "varn 1 /\n"}}, .prepare = place});
  play({.what = "nothing to do", .first = {{"alpha.qpk", alpha}}, .prepare = place});
}

const std::string kUsage = "usage: installer [-q] [-r <root>] [-]\n";
const std::string kResuming = "\nResuming upgrade...\n";

// Words ("@": the scratch root), environment, status, output and error. No run may change the root, nor the host.
TEST(RunStart, Invocations) {
  const std::tuple<std::vector<std::string>, std::map<std::string, std::string>, int, std::string, std::string> rows[] = {
      // The emulator board has no package system, whatever the words.
      {{"-r", "@/missing", "--reinstall", "--bogus", "-"}, {{"board", "qemu_p9"}}, 0, "", ""},
      {{"-r", "@", "--bogus"}, {{"board", "qemu_p9x"}}, 0, kUsage, ""},
      // Unknown and incomplete words; quiet mode does not silence the usage line.
      {{"-r", "@", "-q", "-r"}, {}, 0, kUsage, ""},
      {{"-r", "@", "--month"}, {}, 0, kUsage, ""},
      {{"--bogus", "--commit"}, {}, 0, kUsage, ""},
      // The resumption line comes as the word is read, before any refusal.
      {{"-r", "@", "--reinstall", "--bogus"}, {}, 0, kResuming + kUsage, ""},
      {{"--reinstall", "-r", "@/missing"}, {}, 1, kResuming, "chroot: No such file or directory\n"},
      // The later root counts; argument words take the next word whatever it is.
      {{"-r", "@/missing", "-r", "@", "--cleanup"}, {}, 0, "", ""},
      {{"-r", "--commit"}, {}, 1, "", "chroot: No such file or directory\n"},
      {{"-r", "@", "--month", "--bogus", "-b", "--force", "--noupgrade", "-i", "--cleanup"}, {}, 0, "", ""},
      // "--cleanup" and "-" end the reading.
      {{"-r", "@", "--cleanup", "--bogus", "-r"}, {}, 0, "", ""},
      {{"-r", "@", "-", "--bogus", "-r"}, {}, 1, "ERROR: installation of standard input failed: broken package\n", ""},
      {{"-r", "@", "-q", "-", "-q"}, {}, 1, "", ""},
  };
  const auto hostPaths = [] { return runProgram({"/bin/ls", "-d", "/flash", "/ram"}, {}, "").out; };
  const std::string hostBefore = hostPaths();
  ScratchRoot root;
  const State before = snapshot(root);
  for (const auto& [args, env, status, out, err] : rows) {
    std::vector<std::string> argv = {INSTALLER_BINARY};
    for (std::string word : args) argv.push_back(word[0] == '@' ? root.path() + word.substr(1) : word);
    const RunResult run = runProgram(argv, env);
    EXPECT_EQ(std::tie(run.status, run.out, run.err), std::tie(status, out, err)) << argv.back();
  }
  EXPECT_EQ(differences(before, snapshot(root)), std::vector<std::string>{});  // the log aside
  EXPECT_EQ(hostPaths(), hostBefore);
}

}  // namespace
