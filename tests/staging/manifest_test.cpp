// The manifest a safe run leaves: written in target order, read back as
// moves of existing files, and the reading rules line by line.
#include <gtest/gtest.h>

#include "staging/commit.h"
#include "support/fixtures.h"

using namespace fixtures;

namespace {

TEST(Manifest, WrittenInTargetOrderAndReadBack) {
  ScratchRoot root;
  const std::string path = root.host("/ram/MANIFEST");
  StagedChanges set;
  stageChange(set, "/flash/var/pdb/foo/version", ChangeKind::MoveTemporary, "/ram/tmpAbC123");
  stageChange(set, "/flash/var/pdb/bar/", ChangeKind::Remove, "");
  stageMove(set, "/rw/pckg/.download/foo.qpk", "/flash/a");
  stageSymlink(set, "some link text", "/flash/var/pdb/foo/image");  // spaces survive in the last field
  writeFile(path, "old content that must go away\n");
  writeManifest(set, path);
  EXPECT_EQ(readFile(path),
            "M /flash/a /rw/pckg/.download/foo.qpk\n"
            "U /flash/var/pdb/bar/\n"
            "L /flash/var/pdb/foo/image some link text\n"
            "M /flash/var/pdb/foo/version /ram/tmpAbC123\n");
  StagedChanges read;
  EXPECT_TRUE(readManifest(read, path));
  ASSERT_EQ(read.size(), 4u);
  EXPECT_EQ(read["/flash/var/pdb/foo/version"].kind, ChangeKind::MoveExisting);
  EXPECT_EQ(read["/flash/var/pdb/foo/version"].data, "/ram/tmpAbC123");
  EXPECT_EQ(read["/flash/var/pdb/foo/image"].kind, ChangeKind::Symlink);
  EXPECT_EQ(read["/flash/var/pdb/bar/"].kind, ChangeKind::Remove);
  writeManifest(read, path + "2");
  EXPECT_EQ(readFile(path + "2"), readFile(path));
  // A missing file reads nothing and leaves the set alone.
  EXPECT_FALSE(readManifest(read, path + "-absent"));
  EXPECT_EQ(read.size(), 4u);
}

TEST(Manifest, ReadingRules) {
  const struct {
    std::string content;
    bool result;
    std::vector<std::string> keys;
  } cases[] = {
      // An empty file, and a file read to its end, are complete manifests.
      {"", true, {}},
      {"U /flash/a\nM /flash/b /src\n", true, {"/flash/a", "/flash/b"}},
      {"U /flash/a\nM /flash/b /src", true, {"/flash/a", "/flash/b"}},  // last line without newline
      // An empty line ends the manifest; nothing after it counts.
      {"\nU /flash/a\n", true, {}},
      {"U /flash/a\n\nU /flash/b\n", true, {"/flash/a"}},
      // A malformed line ends the reading with false; earlier lines stay.
      {"U /flash/a\nU\nU /flash/b\n", false, {"/flash/a"}},
      {"U /flash/a\nM /flash/b\nU /flash/c\n", false, {"/flash/a"}},
      {"L /flash/a\n", false, {}},
      {"X\n", false, {}},
      // Another letter is skipped, and the lines after it still count.
      {"X /flash/a /flash/b\nU /flash/c\nu /flash/d\nMM /flash/e /flash/f\n", true, {"/flash/c"}},
      // Empty fields are missing fields.
      {"M /flash/a \n", false, {}},
      {"U  /flash/a\n", false, {}},
      // Every staged change lies below "/flash"; a line for another place is
      // passed over.
      {"U /etc/passwd\nM /rw/x /flash/a\nU /flash/c\n", true, {"/flash/c"}},
      // Junk after good lines: the lines before it still count.
      {std::string("U /flash/a\nM /flash/b /c\n\xff\x00\x01junk\nU /flash/d\n", 30), false, {"/flash/a", "/flash/b"}},
      {"U /flash/a\n" + std::string(100000, 'j'), false, {"/flash/a"}},
  };
  ScratchRoot root;
  const std::string path = root.host("/ram/MANIFEST");
  for (const auto& c : cases) {
    writeFile(path, c.content);
    StagedChanges set;
    EXPECT_EQ(readManifest(set, path), c.result) << c.content;
    std::vector<std::string> keys;
    for (const auto& [key, change] : set) keys.push_back(key);
    EXPECT_EQ(keys, c.keys) << c.content;
  }
  // A later line for the same target wins.
  writeFile(path, "M /flash/a /first\nL /flash/a text\nM /flash/a /last\n");
  StagedChanges set;
  EXPECT_TRUE(readManifest(set, path));
  EXPECT_EQ(set["/flash/a"].kind, ChangeKind::MoveExisting);
  EXPECT_EQ(set["/flash/a"].data, "/last");
}

}  // namespace
