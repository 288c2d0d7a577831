// The "--show" table: byte-exact, end to end through the installer on a
// scratch root. Which names of the
// database directory are package entries: only directories; plain files
// there are left-overs and must not load as packages.
#include <gtest/gtest.h>

#include "support/fixtures.h"

using namespace fixtures;

namespace {

constexpr uint32_t kBuilt = 1796508901;  // Dec/05/2026 22:15:01 UTC

qpk::PackageSpec built(const std::string& name, const char* versionText, uint32_t buildTime = kBuilt) {
  qpk::PackageSpec s = spec(name, versionText);
  s.buildTime = buildTime;
  return s;
}

const std::string kHeading =
    "            Name          Version                Built                                    Note\n" +
    std::string(94, '-') + "\n";

}  // namespace

TEST(Listing, ShowIsByteExactForImagesBundlesAndSmallFiles) {
  ScratchRoot root;
  qpk::PackageSpec imaged = built("imaged", "6.46.9");
  imaged.note = "from the image, longer than its column: written whole";
  root.write("/flash/var/pdb/imaged/image", build(imaged));
  qpk::BundleSpec suite = bundle("suite", "7.1beta4", {built("m1", "1.0"), built("m2", "6.46.9")});
  suite.buildTime = 0;
  suite.note = "the suite";
  root.write("/flash/var/pdb/suite/image", buildBundle(suite));
  writeEntry(root, "m1", {{"bundle", "suite\n"}});
  writeEntry(root, "m2", {{"bundle", "suite\n"}, {"disabled", "user\n"}});

  const std::string v12 = std::to_string(makeVersion(1, 2, Final, 0));
  writeEntry(root, "small", {{"version", v12 + " 4294967295\n"}, {"files", "bin/small\n"}});  // unsigned
  writeEntry(root, "sixteen-chars-ab",
                  {{"version", v12 + " " + std::to_string(kBuilt) + "\n"}, {"disabled", "auto\n"}, {"files", ""}});
  // Scheduled for uninstallation and an orphaned member: listed all the same.
  writeEntry(root, "orphan", {{"version", v12 + " 0\n"}, {"bundle", "gone\n"}, {"files", ""}});
  root.write("/ram/pdb/small/schedule", "uninstall\n");
  // A record of the images directory comes after the entries' own images.
  writeEntry(root, "late", {{"version", v12 + " 0\n"}, {"files", ""}});
  root.write("/rw/pckg/.images/late", build(built("late", "2.0")));

  const std::map<std::string, std::string> rows = {
      {"imaged", "          imaged           6.46.9 Dec/05/2026 22:15:01 "
                 "from the image, longer than its column: written whole\n"},
      {"m1", "              m1  B           1.0 Dec/05/2026 22:15:01                                         \n"},
      {"m2", "              m2 XB        6.46.9 Dec/05/2026 22:15:01                                         \n"},
      {"suite", "           suite         7.1beta4 Jan/01/1970 00:00:00                                the suite\n"},
      {"small", "           small              1.2 Feb/07/2106 06:28:15                                         \n"},
      {"sixteen-chars-ab",
       "sixteen-chars-ab X            1.2 Dec/05/2026 22:15:01                                         \n"},
      {"orphan", "          orphan  B           1.2 Jan/01/1970 00:00:00                                         \n"},
      {"late", "            late              2.0 Dec/05/2026 22:15:01                                         \n"},
  };
  // Images first in listing order (a bundle after its members), then those
  // of the images directory, then the entries without an image, each in
  // listing order.
  std::string expected = kHeading;
  std::vector<std::string> order = listingOrder(root);
  for (const std::string& name : order) {
    if (name == "imaged") expected += rows.at("imaged");
    if (name == "suite") expected += rows.at("m1") + rows.at("m2") + rows.at("suite");
  }
  expected += rows.at("late");
  for (const std::string& name : order) {
    if (name == "small" || name == "sixteen-chars-ab" || name == "orphan") expected += rows.at(name);
  }

  RunResult result = root.run({"--show"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, expected);
  // Nothing is written: no post-install log, no marker.
  EXPECT_FALSE(root.exists("/flash/postlog"));
  EXPECT_FALSE(root.exists("/flash/PCKGS_CHANGED"));
}

TEST(LoaderConformance, PlainFilesInTheDatabaseDirectoryAreNotPackages) {
  ScratchRoot root;
  root.write("/flash/var/pdb/tmpAbC123", "");
  root.write("/flash/var/pdb/image", build(spec("ghost", "1.0")));
  RunResult show = root.run({"--show"});
  EXPECT_EQ(show.status, 0) << show.err;
  EXPECT_EQ(show.out, kHeading);
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
