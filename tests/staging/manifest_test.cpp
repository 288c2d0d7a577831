// Reading the manifest a safe run leaves, line by line (its writing and the
// kinds read back are checked by the safe, commit and cancel runs).
#include <gtest/gtest.h>

#include "staging/commit.h"
#include "support/fixtures.h"

using namespace fixtures;

namespace {

TEST(Manifest, ReadingRules) {
  const struct {
    std::string content;
    bool result;
    std::vector<std::string> keys;
  } cases[] = {
      // A file read to its end (last newline or not) or to an empty line is
      // complete; a malformed line ends the reading with false, earlier lines stay.
      {"", true, {}},
      {"U /flash/a\nM /flash/b /src", true, {"/flash/a", "/flash/b"}},
      {"U /flash/a\n\nU /flash/b\n", true, {"/flash/a"}},
      {"U /flash/a\nU\nU /flash/b\n", false, {"/flash/a"}},
      {"U /flash/a\nM /flash/b\nU /flash/c\n", false, {"/flash/a"}},
      {"L /flash/a\n", false, {}},
      {"X\n", false, {}},
      // Another letter is skipped, and the lines after it still count.
      {"X /flash/a /flash/b\nU /flash/c\nu /flash/d\nMM /flash/e /flash/f\n", true, {"/flash/c"}},
      // Empty fields are missing fields; a place outside "/flash" is passed over.
      {"M /flash/a \n", false, {}},
      {"U  /flash/a\n", false, {}},
      {"U /etc/passwd\nM /rw/x /flash/a\nU /flash/c\n", true, {"/flash/c"}},
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
