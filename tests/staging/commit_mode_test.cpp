// "--commit" and "--cancel" end to end: the installer runs chrooted to a
// scratch root inside a private mount namespace, so "/ram/MANIFEST" is
// always the scratch root's.
#include <gtest/gtest.h>

#include "support/fixtures.h"

using namespace fixtures;

namespace {

// What a safe run leaves: a manifest, its temporaries, and the move of an
// upload (not the program's own file).
void writeWaitingManifest(ScratchRoot& s, const std::string& extra = "") {
  s.write("/ram/.installer/tmpAAAAAA", "new a", 0755);
  s.write("/flash/.installer/tmpBBBBBB", "new b");
  s.write("/rw/pckg/.download/p.qpk", "package");
  s.write("/flash/var/pdb/gone/version", "1");
  s.write("/ram/MANIFEST",
          "M /flash/a /ram/.installer/tmpAAAAAA\n"
          "M /flash/sub/b /flash/.installer/tmpBBBBBB\n"
          "L /flash/link /flash/a\n"
          "M /flash/var/pdb/p/image /rw/pckg/.download/p.qpk\n"
          "U /flash/var/pdb/gone/\n"
          "X ignored line\n" + extra);
}

TEST(CommitMode, CommitsTheManifestWholeOrNotAtAll) {
  ScratchRoot s;
  // A move whose source is gone (a manifest committed twice) refuses it all.
  writeWaitingManifest(s, "M /flash/missing /ram/.installer/tmpNOPE00\n");
  const auto before = flashTree(s);
  RunResult r = s.runChrooted({"--commit", "--bogus"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "finishing install... \b \nERROR: commit failed: could not move /ram/.installer/tmpNOPE00: "
                   "No such file or directory\n");
  EXPECT_EQ(flashTree(s), before);

  writeWaitingManifest(s);
  r = s.runChrooted({"--commit"});
  EXPECT_EQ(r.out + r.err, "finishing install... \b \n");
  EXPECT_EQ(s.read("/flash/a"), "new a");
  EXPECT_EQ(fileMode(s.host("/flash/a")), 0755u);
  EXPECT_EQ(s.read("/flash/sub/b"), "new b");
  EXPECT_EQ(linkText(s, "/flash/link"), "/flash/a");
  EXPECT_EQ(s.read("/flash/var/pdb/p/image"), "package");
  EXPECT_FALSE(s.exists("/flash/var/pdb/gone"));
  EXPECT_FALSE(s.exists("/flash/.installer"));
  EXPECT_EQ(s.list("/ram"), std::vector<std::string>{"MANIFEST"});
  // Without a manifest nothing is committed.
  s.remove("/ram/MANIFEST");
  r = s.runChrooted({"--commit"});
  EXPECT_EQ(r.out + r.err, "finishing install... \b \n");
}

TEST(CancelMode, DeletesTheManifestAndItsTemporaries) {
  ScratchRoot s;
  writeWaitingManifest(s);
  RunResult r = s.runChrooted({"--cancel"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(s.list("/ram"), std::vector<std::string>{});
  EXPECT_FALSE(s.exists("/flash/.installer"));
  EXPECT_FALSE(s.exists("/flash/a"));
  EXPECT_EQ(s.read("/flash/var/pdb/gone/version"), "1");
  EXPECT_EQ(s.read("/rw/pckg/.download/p.qpk"), "package");
  // A second cancel finds nothing and is no error.
  EXPECT_EQ(s.runChrooted({"--cancel"}).status, 0);
}

}  // namespace
