#include <gtest/gtest.h>

#include "isolated_run.h"
#include "staging/commit.h"

namespace {

TEST(Manifest, WrittenInTargetOrder) {
  TestFolder dir;
  StagedChanges set;
  stageChange(set, "/flash/var/pdb/foo/version", ChangeKind::MoveTemporary, "/ram/tmpAbC123");
  stageChange(set, "/flash/var/pdb/bar/", ChangeKind::Remove, "");
  stageMove(set, "/rw/pckg/.download/foo.qpk", "/flash/a");
  stageSymlink(set, "/flash/bootimage", "/flash/var/pdb/foo/image");
  stageChange(set, "/flash/b", ChangeKind::Remove, "");
  writeFile(dir / "MANIFEST", "old content that must go away\n");
  writeManifest(set, dir / "MANIFEST");
  EXPECT_EQ(readFile(dir / "MANIFEST"),
            "M /flash/a /rw/pckg/.download/foo.qpk\n"
            "U /flash/b\n"
            "U /flash/var/pdb/bar/\n"
            "L /flash/var/pdb/foo/image /flash/bootimage\n"
            "M /flash/var/pdb/foo/version /ram/tmpAbC123\n");
}

TEST(Manifest, ReadBackGivesMovesOfExistingFiles) {
  TestFolder dir;
  StagedChanges written;
  stageChange(written, "/flash/x", ChangeKind::MoveTemporary, "/ram/tmp111111");
  stageMove(written, "/rw/a.qpk", "/rw/pckg/.images/a");
  stageSymlink(written, "some link text", "/flash/l");  // spaces survive in the last field
  stageChange(written, "/flash/var/pdb/gone/", ChangeKind::Remove, "");
  writeManifest(written, dir / "MANIFEST");

  StagedChanges read;
  EXPECT_TRUE(readManifest(read, dir / "MANIFEST"));
  ASSERT_EQ(read.size(), 4u);
  EXPECT_EQ(read["/flash/x"].kind, ChangeKind::MoveExisting);
  EXPECT_EQ(read["/flash/x"].data, "/ram/tmp111111");
  EXPECT_EQ(read["/rw/pckg/.images/a"].kind, ChangeKind::MoveExisting);
  EXPECT_EQ(read["/rw/pckg/.images/a"].data, "/rw/a.qpk");
  EXPECT_EQ(read["/flash/l"].kind, ChangeKind::Symlink);
  EXPECT_EQ(read["/flash/l"].data, "some link text");
  EXPECT_EQ(read["/flash/var/pdb/gone/"].kind, ChangeKind::Remove);
  EXPECT_EQ(read["/flash/var/pdb/gone/"].data, "");

  // Writing the read set again gives the same bytes.
  writeManifest(read, dir / "AGAIN");
  EXPECT_EQ(readFile(dir / "AGAIN"), readFile(dir / "MANIFEST"));
}

struct ReadCase {
  const char* content;
  bool result;
  std::vector<std::string> keys;
};

TEST(Manifest, ReadingRules) {
  const ReadCase cases[] = {
      // An empty file, and a file read to its end, are complete manifests.
      {"", true, {}},
      {"U /a\nM /b /src\n", true, {"/a", "/b"}},
      {"U /a\nM /b /src", true, {"/a", "/b"}},  // last line without newline
      // An empty line ends the manifest; nothing after it counts.
      {"\nU /a\n", true, {}},
      {"U /a\n\nU /b\n", true, {"/a"}},
      // A malformed line ends the reading with false; earlier lines stay.
      {"U /a\nU\nU /b\n", false, {"/a"}},
      {"U /a\nM /b\nU /c\n", false, {"/a"}},
      {"L /a\n", false, {}},
      {"X\n", false, {}},
      // Another letter is skipped, and the lines after it still count.
      {"X /a /b\nU /c\nu /d\nMM /e /f\n", true, {"/c"}},
      // Empty fields are missing fields.
      {"M /a \n", false, {}},
      {"U  /a\n", false, {}},
  };
  TestFolder dir;
  for (const ReadCase& c : cases) {
    writeFile(dir / "MANIFEST", c.content);
    StagedChanges set;
    EXPECT_EQ(readManifest(set, dir / "MANIFEST"), c.result) << c.content;
    std::vector<std::string> keys;
    for (const auto& [key, change] : set) keys.push_back(key);
    EXPECT_EQ(keys, c.keys) << c.content;
  }
}

TEST(Manifest, MissingFileReadsNothing) {
  TestFolder dir;
  StagedChanges set;
  stageSymlink(set, "t", "/kept");
  EXPECT_FALSE(readManifest(set, dir / "absent"));
  EXPECT_EQ(set.size(), 1u);
}

TEST(Manifest, LaterLineForSameTargetWins) {
  TestFolder dir;
  writeFile(dir / "MANIFEST", "M /a /first\nL /a text\nM /a /last\n");
  StagedChanges set;
  EXPECT_TRUE(readManifest(set, dir / "MANIFEST"));
  ASSERT_EQ(set.size(), 1u);
  EXPECT_EQ(set["/a"].kind, ChangeKind::MoveExisting);
  EXPECT_EQ(set["/a"].data, "/last");
}

}  // namespace
