// A safe run whose manifest cannot be written whole gives the run up: the
// manifest is all a later "--commit" sees, so a cut one must not stay and
// the temporaries it would have named must not wait on flash.
#include <gtest/gtest.h>

#include "support/fixtures.h"

using namespace fixtures;

TEST(SafeModeManifest, AManifestThatDoesNotFitGivesTheRunUp) {
  ScratchRoot root;
  std::vector<qpk::FileEntry> files;
  for (int i = 0; i < 200; ++i) files.push_back(file("/bin/tool-with-a-long-name-" + std::to_string(i), "x"));
  upload(root, "many.qpk", build(spec("many", "1.0", files)));
  const auto before = flashTree(root);

  // "/ram" is a one-page file system: the temporaries go to flash, which has
  // room, but 200 manifest lines do not fit.
  EXPECT_TRUE(runIsolated(
      [&] {
        const RunResult run = root.run({"--safe"});
        EXPECT_EQ(run.status, 28) << run.out << run.err;
        EXPECT_TRUE(hasLine(run.outPlain, "ERROR: upgrade failed: could not write /ram/MANIFEST")) << run.outPlain;
        EXPECT_FALSE(hasLine(run.outPlain, "installed many-1.0")) << run.outPlain;
        EXPECT_FALSE(root.exists("/ram/MANIFEST"));
      },
      {{root.host("/ram"), "4k"}}));
  EXPECT_EQ(flashTree(root), before);
}
