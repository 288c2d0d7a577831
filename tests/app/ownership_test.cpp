// End to end: no package takes another's files, no payload path leaves its
// place, no name or file on flash can stop a run, and every refusal that
// drops an upgrade says so in one line.
#include <gtest/gtest.h>

#include "package/package_reader.h"
#include "staging/atomic_writer.h"
#include "support/fixtures.h"

using namespace fixtures;

namespace {

using Files = std::vector<std::pair<std::string, std::string>>;  // upload name, package bytes

qpk::PackageSpec needing(qpk::PackageSpec s, const char* dependency) {
  s.dependencies.push_back(relation(dependency));
  return s;
}

// A file that changes hands in one run, or that two packages share: the
// run's result for /flash/bin/helper, with what it must hold ("" = gone).
TEST(Ownership, FilesThatChangeHandsOrAreSharedStay) {
  const struct {
    const char* name;
    Files installed;
    Files uploaded;
    const char* schedule;  // "<package> <word>" or null
    const char* helper;
  } rows[] = {
      {"moves from a to b (b comes first, as a's dependency)",
       {{"a.qpk", build(spec("mover-a", "1.0", {file("/bin/helper", "old"), file("/bin/a", "a")}))},
        {"b.qpk", build(spec("mover-b", "1.0", {file("/bin/b", "b")}))}},
       {{"a.qpk", build(needing(spec("mover-a", "2.0", {file("/bin/a", "a")}), "mover-b"))},
        {"b.qpk", build(spec("mover-b", "2.0", {file("/bin/b", "b"), file("/bin/helper", "new")}))}},
       nullptr, "new"},
      {"moves from b to a",
       {{"a.qpk", build(spec("mover-a", "1.0", {file("/bin/a", "a")}))},
        {"b.qpk", build(spec("mover-b", "1.0", {file("/bin/b", "b"), file("/bin/helper", "old")}))}},
       {{"a.qpk", build(needing(spec("mover-a", "2.0", {file("/bin/a", "a"), file("/bin/helper", "new")}), "mover-b"))},
        {"b.qpk", build(spec("mover-b", "2.0", {file("/bin/b", "b")}))}},
       nullptr, "new"},
      {"moves from a member the new bundle drops to one it keeps",
       {{"base.qpk", build(spec("base", "1.0", {file("/bin/base", "b")}))},
        {"s.qpk", buildBundle(bundle("suite", "1.0", {spec("m1", "1.0", {file("/bin/m1", "1")}),
                                                      spec("m2", "1.0", {file("/bin/helper", "old")})}))}},
       {{"s.qpk", buildBundle(bundle("suite", "2.0", {spec("m1", "2.0", {file("/bin/m1", "1"), file("/bin/helper", "new")})}))}},
       nullptr, "new"},
      {"shared by two packages, one uninstalled",
       {{"p.qpk", build(spec("p", "1.0", {file("/bin/helper", "same")}))},
        {"q.qpk", build(spec("q", "1.0", {file("/bin/helper", "same"), file("/bin/q", "q")}))}},
       {}, "p uninstall", "same"},
      {"owned by one package, uninstalled",
       {{"p.qpk", build(spec("p", "1.0", {file("/bin/helper", "mine")}))},
        {"q.qpk", build(spec("q", "1.0", {file("/bin/q", "q")}))}},
       {}, "p uninstall", ""},
  };
  for (const auto& row : rows) {
    ScratchRoot root;
    installFirst(root, row.installed);
    for (const auto& [name, bytes] : row.uploaded) upload(root, name, bytes);
    if (row.schedule != nullptr) {
      const std::string words = row.schedule;
      root.write("/ram/pdb/" + words.substr(0, words.find(' ')) + "/schedule", words.substr(words.find(' ') + 1));
    }
    const RunResult run = root.run({});
    EXPECT_EQ(run.status, 0) << row.name << ": " << run.outPlain;
    EXPECT_EQ(run.outPlain.find("ERROR"), std::string::npos) << row.name << ": " << run.outPlain;
    EXPECT_EQ(root.read("/flash/bin/helper"), row.helper) << row.name;
    EXPECT_EQ(root.exists("/flash/bin/helper"), *row.helper != '\0') << row.name;
  }
}

// Uploads the router must refuse: one error line, a failed upgrade (status
// 0, nothing on flash), and the same from standard input (status 1, or 2
// for a bundle whose member fails).
TEST(Refusals, EachRefusalIsOneLineAndChangesNothing) {
  const auto withFile = [](const std::string& name, const std::string& path) {
    return build(spec(name, "1.0", {file(path, "x")}));
  };
  qpk::PackageSpec badRelation = spec("good", "1.0", {file("/bin/x", "x")});
  badRelation.provides.push_back(relation("two words"));
  qpk::PackageSpec stateOnly = spec("state", "1.0", {file("/bin/s", "s")});
  stateOnly.flags = kFlagStateOnly;
  // Parts that no signature covers, between two signed members.
  qpk::PartWriter unsealed;
  unsealed.part(PartBundleHeader, qpk::encodeHeader("suite", version("1.0"), 1000, 0, true));
  unsealed.part(PartBlob, "b");
  unsealed.raw(withFile("one", "/bin/one").substr(8));
  unsealed.part(PartNote, "inserted");
  unsealed.part(PartText24, "inserted");
  unsealed.raw(withFile("two", "/bin/two").substr(8));
  const struct {
    std::string bytes;
    std::string label;  // of "installation of <label> failed: broken package"
    int pipedStatus = 1;
    std::string line = "";  // another message
  } rows[] = {
      // Unsigned parts between members, and what cannot be kept without a blob.
      {unsealed.finish(), "suite-1.0", 2},
      {buildBundle(bundle("suite", "1.0", {spec("one", "1.0", {file("/bin/one", "1")})}, std::nullopt)), "", 1,
       "installation of suite-1.0 failed: a bundle without a blob cannot be kept"},
      {build(stateOnly), "", 1, "installation of state-1.0 failed: a state-only package without a blob cannot be kept"},
      // Payload paths: into the database, with a space, over-long.
      {withFile("evil", "/var/pdb/phantom/version"), "evil-1.0"},
      {withFile("evil", "/var/./pdb/base/image/readme"), "evil-1.0"},
      {withFile("evil", "/www/My Page.html"), "evil-1.0"},
      {withFile("evil", "/bin/" + std::string(256, 'n')), "evil-1.0"},
      // Names the database cannot hold, and relation names it cannot.
      {withFile("", "/bin/x"), "-1.0"},
      {withFile("..", "/bin/x"), "..-1.0"},
      {withFile(".", "/bin/x"), ".-1.0"},
      {withFile("a b", "/bin/x"), "a b-1.0"},
      {withFile("tab\tname", "/bin/x"), "tab\tname-1.0"},
      {withFile("ctl\x01", "/bin/x"), "ctl\x01-1.0"},
      {withFile(".hidden", "/bin/x"), ".hidden-1.0"},
      {withFile("image", "/bin/x"), "image-1.0"},
      {build(badRelation), "good-1.0"},
      // A member named like its bundle, or badly: labelled by the bundle.
      {buildBundle(bundle("suite", "1.0", {spec("suite", "1.0", {file("/bin/s", "s")})})), "suite-1.0", 2},
      {buildBundle(bundle("suite", "1.0", {spec("fine", "1.0", {file("/bin/f", "f")}), spec("bad/name", "1.0")})),
       "suite-1.0", 2},
  };
  for (const auto& row : rows) {
    for (const bool piped : {false, true}) {
      ScratchRoot root;
      installFirst(root, {{"base.qpk", build(spec("base", "1.0", {file("/bin/base", "b")}))}});
      const auto before = flashTree(root);
      if (!piped) upload(root, "up.qpk", row.bytes);
      const RunResult run = piped ? root.run({"-"}, {}, row.bytes) : root.run({});
      EXPECT_EQ(run.status, piped ? row.pipedStatus : 0) << row.label;
      const std::string line = row.line.empty() ? "installation of " + row.label + " failed: broken package" : row.line;
      EXPECT_EQ(run.outPlain, "ERROR: " + line + "\n") << (piped ? "piped" : "uploaded");
      EXPECT_EQ(flashTree(root), before) << row.label;
    }
  }
  // The author's tool says the same of the unsealed bundle.
  ScratchRoot root;
  root.write("/tmp/unsealed.qpk", rows[0].bytes);
  const RunResult verify = runProgram({QPK_BINARY, "verify", root.host("/tmp/unsealed.qpk")}, {}, "");
  EXPECT_EQ(verify.status, 1);
  EXPECT_NE(verify.out.find("no signature covers: refused"), std::string::npos) << verify.out;
}

TEST(Refusals, FoldersWhereFilesBelongStopNothing) {
  ScratchRoot root;
  installFirst(root, {{"base.qpk", build(spec("base", "1.0", {file("/bin/base", "b")}))}});
  // A folder among the uploads is named and passed over; a folder where an
  // entry keeps its image reads as no image.
  makeDirectories(root.host("/rw/pckg/.download/x.qpk"));
  makeDirectories(root.host("/flash/var/pdb/base/image/readme"));
  upload(root, "good.qpk", build(spec("good", "1.0", {file("/bin/good", "g")})));
  RunResult run = root.run({});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.outPlain, "ERROR: broken package x.qpk\ninstalled good-1.0\n");
  run = root.run({"--show"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("base"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("good"), std::string::npos) << run.out;
}

// A "files" list is read back from flash; an uninstallation acts on its
// paths only below "/flash", outside the database, and never empties a
// folder. A path a manifest could not carry refuses the "--safe" run.
TEST(Refusals, StoredPathsAreTrustedOnlyWhereTheyBelong) {
  ScratchRoot root;
  installFirst(root, {{"etc.qpk", build(spec("etc", "1.0", {file("/etc/conf", "c")}))},
                      {"p.qpk", build(spec("p", "1.0", {file("/bin/p", "p")}))}});
  root.write("/rw/config/users", "admin");
  root.write("/flash/var/pdb/p/files", "flash/bin/p\nrw/config/users\nflash/etc\nflash/var/pdb/etc/version\n");
  root.write("/ram/pdb/p/schedule", "uninstall");
  const auto before = flashTree(root);
  root.write("/flash/boot/ x", "x");
  root.write("/flash/var/pdb/p/files", "flash/bin/p\nflash/boot/ x\n");
  RunResult run = root.run({"--safe"});
  EXPECT_EQ(run.status, 28);
  EXPECT_EQ(run.outPlain, "ERROR: upgrade failed: could not write /ram/MANIFEST\n");
  EXPECT_FALSE(root.exists("/ram/MANIFEST"));
  root.remove("/flash/boot");
  root.write("/flash/var/pdb/p/files", "flash/bin/p\nrw/config/users\nflash/etc\nflash/var/pdb/etc/version\n");
  run = root.run({});
  EXPECT_EQ(run.status, 0) << run.outPlain;
  auto expected = before;
  for (const char* gone : {"/flash/bin/p", "/flash/var/pdb/p/deps", "/flash/var/pdb/p/files", "/flash/var/pdb/p/version"})
    expected.erase(gone);
  expected["/flash/PCKGS_CHANGED"] = "";
  EXPECT_EQ(flashTree(root), expected);
  EXPECT_EQ(root.read("/rw/config/users"), "admin");
}

}  // namespace
