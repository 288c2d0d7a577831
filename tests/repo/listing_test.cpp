// The "--show" table, byte-exact, through the installer on a scratch root;
// only directories of the database are package entries.
#include <gtest/gtest.h>

#include "support/fixtures.h"

using namespace fixtures;

namespace {

constexpr uint32_t kBuilt = 1796508901;  // Dec/05/2026 22:15:01 UTC

qpk::PackageSpec built(const std::string& name, const char* versionText) {
  qpk::PackageSpec s = spec(name, versionText);
  s.buildTime = kBuilt;
  return s;
}

const std::string kHeading =
    "            Name          Version                Built                                    Note\n" +
    std::string(94, '-') + "\n";
const std::string kBlank(41, ' ');

// Images first in listing order (a bundle after its members), then those of
// the images directory, then the entries without an image; plain files in
// the database directory are left-overs, not packages. Nothing is written.
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
  writeEntry(root, "late", {{"version", v12 + " 0\n"}, {"files", ""}});
  root.write("/rw/pckg/.images/late", build(built("late", "2.0")));
  root.write("/flash/var/pdb/tmpAbC123", "");
  root.write("/flash/var/pdb/image", build(spec("ghost", "1.0")));

  const std::map<std::string, std::string> rows = {
      {"imaged", "          imaged           6.46.9 Dec/05/2026 22:15:01 "
                 "from the image, longer than its column: written whole\n"},
      {"m1", "              m1  B           1.0 Dec/05/2026 22:15:01" + kBlank + "\n"},
      {"m2", "              m2 XB        6.46.9 Dec/05/2026 22:15:01" + kBlank + "\n"},
      {"suite", "           suite         7.1beta4 Jan/01/1970 00:00:00                                the suite\n"},
      {"small", "           small              1.2 Feb/07/2106 06:28:15" + kBlank + "\n"},
      {"sixteen-chars-ab", "sixteen-chars-ab X            1.2 Dec/05/2026 22:15:01" + kBlank + "\n"},
      {"orphan", "          orphan  B           1.2 Jan/01/1970 00:00:00" + kBlank + "\n"},
      {"late", "            late              2.0 Dec/05/2026 22:15:01" + kBlank + "\n"},
  };
  std::string expected = kHeading, smallFiles;
  for (const std::string& name : listingOrder(root)) {
    if (name == "suite") expected += rows.at("m1") + rows.at("m2");
    if (name == "imaged" || name == "suite") expected += rows.at(name);
    if (name == "small" || name == "sixteen-chars-ab" || name == "orphan") smallFiles += rows.at(name);
  }
  RunResult result = root.run({"--show"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, expected + rows.at("late") + smallFiles);
  EXPECT_FALSE(root.exists("/flash/postlog") || root.exists("/flash/PCKGS_CHANGED"));
}

// The entry files a waiting safe run left in the program's folder are not
// packages: the listing is the heading alone, and the next run installs the
// upload again instead of tripping over nameless-looking entries.
TEST(LoaderConformance, TemporariesOfAWaitingSafeRunDoNotBecomePackages) {
  ScratchRoot root;
  upload(root, "foo.qpk", build(spec("foo", "6.46.9", {file("/bin/hello", "hi\n")})));
  RunResult safe = root.run({"--safe"});
  ASSERT_EQ(safe.status, 0) << safe.out << safe.err;
  ASSERT_FALSE(root.list("/flash/.installer").empty());
  RunResult show = root.run({"--show"});
  EXPECT_EQ(show.status, 0) << show.err;
  EXPECT_EQ(show.out, kHeading);
  RunResult again = root.run({});
  EXPECT_EQ(again.status, 0) << again.out << again.err;
  EXPECT_EQ(again.outPlain, "installed foo-6.46.9\n");
}

}  // namespace
