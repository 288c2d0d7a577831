// "--commit" and "--cancel" end to end: the installer runs chrooted to a
// scratch root inside a private mount namespace, so "/ram/MANIFEST" is
// always the scratch root's.
#include <gtest/gtest.h>

#include "support/fixtures.h"

using namespace fixtures;

namespace {

// What a safe run leaves: a manifest and its temporaries.
void writeWaitingManifest(ScratchRoot& s) {
  s.write("/ram/tmpAAAAAA", "new a", 0755);
  s.write("/ram/tmpBBBBBB", "new b");
  s.write("/flash/var/pdb/gone/version", "1");
  s.write("/ram/MANIFEST",
          "M /flash/a /ram/tmpAAAAAA\n"
          "M /flash/sub/b /ram/tmpBBBBBB\n"
          "L /flash/link /flash/a\n"
          "U /flash/var/pdb/gone/\n"
          "X ignored line\n"
          "M /flash/missing /ram/tmpNOPE00\n");
}

TEST(CommitMode, CommitsTheManifestAndKeepsIt) {
  ScratchRoot s;
  writeWaitingManifest(s);
  RunResult r = s.runChrooted({"--commit", "--bogus"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "finishing install... \b \n");
  EXPECT_EQ(r.err, "rename: No such file or directory\n");
  EXPECT_EQ(s.read("/flash/a"), "new a");
  EXPECT_EQ(fileMode(s.host("/flash/a")), 0755u);
  EXPECT_EQ(s.read("/flash/sub/b"), "new b");
  EXPECT_EQ(linkText(s, "/flash/link"), "/flash/a");
  EXPECT_FALSE(s.exists("/flash/var/pdb/gone"));
  EXPECT_EQ(s.list("/ram"), std::vector<std::string>{"MANIFEST"});
  // Without a manifest nothing is committed.
  s.remove("/ram/MANIFEST");
  r = s.runChrooted({"--commit"});
  EXPECT_EQ(r.out, "finishing install... \b \n");
  EXPECT_EQ(r.err, "");
}

TEST(CancelMode, DeletesOnlyTheManifest) {
  ScratchRoot s;
  writeWaitingManifest(s);
  RunResult r = s.runChrooted({"--cancel"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_FALSE(s.exists("/ram/MANIFEST"));
  EXPECT_EQ(s.read("/ram/tmpAAAAAA"), "new a");
  EXPECT_EQ(s.read("/ram/tmpBBBBBB"), "new b");
  EXPECT_FALSE(s.exists("/flash/a"));
  EXPECT_EQ(s.read("/flash/var/pdb/gone/version"), "1");
  // A second cancel finds nothing and is no error.
  EXPECT_EQ(s.runChrooted({"--cancel"}).status, 0);
}

}  // namespace
