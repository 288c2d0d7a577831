// Damaged state on the router, through the real binary: database entries,
// stored images, schedule files and manifests holding junk. Never a crash;
// each gets the outcome the loader and the manifest reader define.
#include <gtest/gtest.h>

#include "robustness/robustness.h"
#include "support/fixtures.h"

using namespace fixtures;

namespace {

const std::string kJunk = std::string("\x00\xff\x1e\xf1\xd0\xba\n\n  -1 99999999999999999999 \t", 32) + std::string(300, 'x');

void installBase(ScratchRoot& root) {
  installFirst(root, {{"base.qpk", build(spec("base", "6.46.9", {file("/bin/base", "base\n")}))}});
}

TEST(MalformedState, JunkEntryFilesMarkThePackageForRemovalAndTheRunRemovesIt) {
  ScratchRoot root;
  installBase(root);
  // Every small file of a second entry holds junk; its version cannot be read.
  for (const char* name : {"version", "deps", "provides", "conflicts", "bundle", "files", "disabled"})
    root.write(std::string("/flash/var/pdb/junk/") + name, kJunk);
  const RunResult show = robust::runBounded(root, {"--show"});
  EXPECT_FALSE(robust::isAbnormal(show)) << show.err;
  EXPECT_EQ(show.status, 0);
  const RunResult run = robust::runBounded(root, {});
  EXPECT_FALSE(robust::isAbnormal(run)) << run.err;
  EXPECT_EQ(run.status, 0);
  EXPECT_FALSE(root.exists("/flash/var/pdb/junk/version")) << run.outPlain;
  EXPECT_EQ(root.read("/flash/bin/base"), "base\n");
}

TEST(MalformedState, JunkOrCutStoredImagesFallBackToTheEntryFiles) {
  ScratchRoot root;
  installBase(root);
  const std::string image = build(spec("base", "6.46.9", {file("/bin/base", "base\n")}));
  for (const std::string& bad : {kJunk, image.substr(0, 20), image.substr(0, 7), std::string()}) {
    root.write("/flash/var/pdb/base/image", bad);
    root.write("/rw/pckg/.images/base", bad);
    const RunResult show = robust::runBounded(root, {"--show"});
    EXPECT_FALSE(robust::isAbnormal(show)) << show.err;
    // Loaded from its small files all the same: name and version are listed.
    EXPECT_NE(show.outPlain.find("base"), std::string::npos) << show.outPlain;
    EXPECT_NE(show.outPlain.find("6.46.9"), std::string::npos) << show.outPlain;
  }
}

TEST(MalformedState, JunkScheduleFilesHaveNoEffect) {
  ScratchRoot root;
  installBase(root);
  root.write("/ram/pdb/base/schedule", "");
  const State before = snapshot(root);
  for (const std::string& word : {kJunk, std::string(100000, 'u'), std::string("uninstal"), std::string("ENABLE")}) {
    root.write("/ram/pdb/base/schedule", word);
    const RunResult run = robust::runBounded(root, {});
    EXPECT_FALSE(robust::isAbnormal(run)) << run.err;
    root.write("/ram/pdb/base/schedule", "");
    const State after = snapshot(root);
    EXPECT_EQ(differences(before, after), std::vector<std::string>{});
  }
}

TEST(MalformedState, JunkManifestCommitsTheLinesBeforeTheFirstMalformedOne) {
  ScratchRoot root;
  root.write("/flash/new", "new\n");
  root.write("/flash/gone", "old\n");
  root.write("/ram/MANIFEST", "U /flash/gone\nX whatever line\nM /flash/moved /flash/new\nM /flash/half\n" + kJunk);
  const RunResult run = root.runChrooted({"--commit"});
  EXPECT_FALSE(robust::isAbnormal(run)) << run.err;
  EXPECT_EQ(run.status, 0);
  EXPECT_FALSE(root.exists("/flash/gone"));
  EXPECT_EQ(root.read("/flash/moved"), "new\n");
  EXPECT_FALSE(root.exists("/flash/half"));

  root.write("/ram/MANIFEST", kJunk);
  const RunResult cancel = root.runChrooted({"--cancel"});
  EXPECT_FALSE(robust::isAbnormal(cancel)) << cancel.err;
  EXPECT_FALSE(root.exists("/ram/MANIFEST"));
}

}  // namespace
