// A manifest that cannot be written whole must not survive: read back, a cut
// manifest is indistinguishable from a whole one, and its commit would carry
// out only part of the set.
#include <gtest/gtest.h>

#include "staging/commit.h"
#include "support/fixtures.h"

using namespace fixtures;

TEST(ManifestConformance, AManifestCutByAFullDiskIsRemoved) {
  ScratchRoot root;
  const std::string small = root.host("/ram");  // a private tmpfs of one page
  EXPECT_TRUE(runIsolated(
      [&] {
        StagedChanges set;
        stageChange(set, "/flash/a", ChangeKind::MoveExisting, "/ram/tmpAAAAAA");
        ASSERT_TRUE(writeManifest(set, small + "/MANIFEST"));
        EXPECT_EQ(readFile(small + "/MANIFEST"), "M /flash/a /ram/tmpAAAAAA\n");

        for (int i = 0; i < 400; ++i) {
          stageChange(set, "/flash/bin/file" + std::to_string(i), ChangeKind::MoveExisting,
                      "/ram/tmp" + std::to_string(100000 + i));
        }
        EXPECT_FALSE(writeManifest(set, small + "/MANIFEST"));
        EXPECT_FALSE(pathExists(small + "/MANIFEST"));
        StagedChanges readBack;
        EXPECT_FALSE(readManifest(readBack, small + "/MANIFEST"));
        EXPECT_TRUE(readBack.empty());
      },
      {{small, "4k"}}));
}
