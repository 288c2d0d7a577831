// Which names of the database directory are package entries, end to end:
// only directories. Plain files there are left-overs and must not load as
// packages, and an entry of junk is removed by the next run.
#include <gtest/gtest.h>

#include "support/fixtures.h"

using namespace fixtures;

namespace {

const std::string kHeading =
    "            Name          Version                Built                                    Note\n" +
    std::string(94, '-') + "\n";

TEST(LoaderConformance, PlainFilesAreNotPackagesAndJunkEntriesGo) {
  ScratchRoot root;
  root.write("/flash/var/pdb/tmpAbC123", "");
  root.write("/flash/var/pdb/image", build(spec("ghost", "1.0")));
  RunResult show = root.run({"--show"});
  EXPECT_EQ(show.status, 0) << show.err;
  EXPECT_EQ(show.out, kHeading);

  root.remove("/flash/var/pdb/image");  // the copy of a piped package: a run clears it
  installEntry(root, "keeper");
  installEntry(root, "junk");
  root.write("/flash/var/pdb/junk/version", "\xff\x01junk");
  std::map<std::string, std::string> expected = flashTree(root);
  RunResult run = root.run({});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.outPlain, "");
  for (const char* path : {"/flash/bin/junk", "/flash/var/pdb/junk/deps", "/flash/var/pdb/junk/files",
                           "/flash/var/pdb/junk/version"}) {
    expected.erase(path);
  }
  expected["/flash/PCKGS_CHANGED"] = "";
  EXPECT_EQ(flashTree(root), expected);
}

TEST(LoaderConformance, TemporariesOfAWaitingSafeRunDoNotBecomePackages) {
  ScratchRoot root;
  upload(root, "foo.qpk", build(spec("foo", "6.46.9", {file("/bin/hello", "hi\n")})));
  RunResult safe = root.run({"--safe"});
  ASSERT_EQ(safe.status, 0) << safe.out << safe.err;
  // The new entry's files wait in the program's own folder.
  ASSERT_FALSE(root.list("/flash/.installer").empty());
  RunResult show = root.run({"--show"});
  EXPECT_EQ(show.status, 0) << show.err;
  EXPECT_EQ(show.out, kHeading);
  // The next run installs the upload again instead of tripping over
  // nameless-looking entries it would have to uninstall.
  RunResult again = root.run({});
  EXPECT_EQ(again.status, 0) << again.out << again.err;
  EXPECT_EQ(again.outPlain, "installed foo-6.46.9\n");
}

}  // namespace
