// "--safe", "--commit", "--cancel" and the post-commit program, chrooted to
// a scratch root in a private mount namespace.
#include <sys/stat.h>

#include "app/scenario.h"

using namespace scenario;

namespace {

// What a safe run leaves: a manifest, its temporaries, the move of an upload.
void writeWaitingManifest(ScratchRoot& s, const std::string& extra = "") {
  s.write("/ram/.installer/tmpAAAAAA", "new a", 0755);
  s.write("/flash/.installer/tmpBBBBBB", "new b");
  s.write("/rw/pckg/.download/p.qpk", "package");
  s.write("/flash/var/pdb/gone/version", "1");
  s.write("/ram/MANIFEST",
          "M /flash/a /ram/.installer/tmpAAAAAA\nM /flash/sub/b /flash/.installer/tmpBBBBBB\nL /flash/link /flash/a\n"
          "M /flash/var/pdb/p/image /rw/pckg/.download/p.qpk\nU /flash/var/pdb/gone/\nX ignored line\n" + extra);
}

TEST(CommitMode, CommitsTheManifestWholeOrNotAtAll) {
  ScratchRoot s;
  // A move whose source is gone (a manifest committed twice) refuses it all.
  // "--commit" comes before the root change and the other words.
  writeWaitingManifest(s, "M /flash/missing /ram/.installer/tmpNOPE00\n");
  const Tree before = flashTree(s);
  RunResult r = s.runChrooted({"-r", "/missing", "--commit", "--bogus"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "finishing install... \b \nERROR: commit failed: could not move /ram/.installer/tmpNOPE00: "
                   "No such file or directory\n");
  EXPECT_EQ(flashTree(s), before);

  writeWaitingManifest(s);
  r = s.runChrooted({"--commit"});
  EXPECT_EQ(r.out + r.err, "finishing install... \b \n");
  EXPECT_EQ(flashTree(s), (Tree{{"/flash/a", "new a"}, {"/flash/sub/b", "new b"}, {"/flash/link", "-> /flash/a"},
                                {"/flash/var/pdb/p/image", "package"}}));
  EXPECT_EQ(fileMode(s.host("/flash/a")), 0755u);
  EXPECT_EQ(s.list("/ram"), std::vector<std::string>{"MANIFEST"});
  // Without a manifest nothing is committed.
  s.remove("/ram/MANIFEST");
  r = s.runChrooted({"--commit"});
  EXPECT_EQ(r.out + r.err, "finishing install... \b \n");
}

TEST(CancelMode, DeletesTheManifestAndItsTemporaries) {
  ScratchRoot s;
  writeWaitingManifest(s);
  const RunResult r = s.runChrooted({"-r", "/missing", "--cancel", "--bogus"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(s.list("/ram"), std::vector<std::string>{});
  EXPECT_EQ(flashTree(s), (Tree{{"/flash/var/pdb/gone/version", "1"}}));
  EXPECT_EQ(s.read("/rw/pckg/.download/p.qpk"), "package");
  // A second cancel finds nothing and is no error.
  EXPECT_EQ(s.runChrooted({"--cancel"}).status, 0);
}

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

// The post-commit program runs after a committed upgrade only: not after a
// safe run, its "--commit", or a run with nothing to do.
TEST(UpgradeRun, SafeCommitAndThePostCommitProgram) {
  const std::string varn = postCommitProgram();
  const auto place = [&](ScratchRoot& root) { root.write("/flash/bin/varn", varn, 0755); };
  const std::string alpha = pack("alpha", "1.0", {{"/bin/alpha", "a"}});
  const Tree installed = entry("alpha", "1.0", {{"/bin/alpha", "a"}}) + Tree{{"/flash/bin/varn", varn}} + kMarker;
  ScratchRoot root;
  place(root);
  upload(root, "alpha.qpk", alpha);
  EXPECT_EQ(root.run({"--safe"}).outPlain, "installed alpha-1.0\n");
  Tree waiting = flashTree(root);  // the temporaries wait on flash, where there is room
  std::erase_if(waiting, [](const auto& entry) { return entry.first.rfind("/flash/.installer/", 0) == 0; });
  EXPECT_EQ(waiting, (Tree{{"/flash/bin/varn", varn}}));
  const RunResult commit = root.runChrooted({"--commit"});
  EXPECT_EQ(commit.out + commit.err, "finishing install... \b \n");
  EXPECT_EQ(differences(flashTree(root), installed), std::vector<std::string>{});
  play({.what = "committed at once", .uploads = {{"alpha.qpk", alpha}}, .out = "installed alpha-1.0\n",
        .flash = installed + Tree{{"/flash/varn-ran", "varn 1 /\n"}}, .prepare = place});
  play({.what = "nothing to do", .first = {{"alpha.qpk", alpha}}, .prepare = place});
}

}  // namespace
