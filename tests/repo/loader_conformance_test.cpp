// Which names of the database directory are package entries: only
// directories. Plain files there are left-overs and must not load as packages.
#include <gtest/gtest.h>

#include "support/fixtures.h"

using namespace fixtures;

namespace {

const std::string kHeading =
    "            Name          Version                Built                                    Note\n" +
    std::string(94, '-') + "\n";

}  // namespace

TEST(LoaderConformance, PlainFilesInTheDatabaseDirectoryAreNotPackages) {
  ScratchRoot root;
  root.write("/flash/var/pdb/tmpAbC123", "");
  root.write("/flash/var/pdb/image", build(spec("ghost", "1.0")));
  RunResult result = root.run({"--show"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, kHeading);
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
  EXPECT_EQ(again.out.find("ERROR"), std::string::npos) << again.out;
  EXPECT_TRUE(hasLine(again.outPlain, "installed foo-6.46.9")) << again.outPlain;
}
