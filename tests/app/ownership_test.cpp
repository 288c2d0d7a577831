// No package takes another's files; every refusal says so in one line and changes nothing.
#include "app/scenario.h"

using namespace scenario;

namespace {

// A file that changes hands in one run, or that two packages share: what /flash/bin/helper holds after.
TEST(Ownership, FilesThatChangeHandsOrAreSharedStay) {
  const auto a = [](const char* v, Tree files) { return pack("mover-a", v, files + Tree{{"/bin/a", "a"}}); };
  const auto b = [](const char* v, Tree files) { return pack("mover-b", v, files + Tree{{"/bin/b", "b"}}); };
  // The new a needs b, so b comes first.
  const auto a2 = [](Tree files) { return build(with(S("mover-a", "2.0", files + Tree{{"/bin/a", "a"}}), needs("mover-b"))); };
  const Tree oldHelper = {{"/bin/helper", "old"}}, newHelper = {{"/bin/helper", "new"}};
  const struct {
    const char* name;
    Files installed, uploaded;
    bool uninstallP;
    const char* helper;
  } rows[] = {
      {"moves from a to b", {{"a.qpk", a("1.0", oldHelper)}, {"b.qpk", b("1.0", {})}},
       {{"a.qpk", a2({})}, {"b.qpk", b("2.0", newHelper)}}, false, "new"},
      {"moves from b to a", {{"a.qpk", a("1.0", {})}, {"b.qpk", b("1.0", oldHelper)}},
       {{"a.qpk", a2(newHelper)}, {"b.qpk", b("2.0", {})}}, false, "new"},
      {"moves from a member the new bundle drops to one it keeps",
       {base()[0],
        {"s.qpk", buildBundle(bundle("suite", "1.0", {S("m1", "1.0", {{"/bin/m1", "1"}}), S("m2", "1.0", oldHelper)}))}},
       {{"s.qpk", buildBundle(bundle("suite", "2.0", {S("m1", "2.0", newHelper + Tree{{"/bin/m1", "1"}})}))}}, false, "new"},
      {"shared by two packages, one uninstalled",
       {{"p.qpk", pack("p", "1.0", {{"/bin/helper", "same"}})}, {"q.qpk", pack("q", "1.0", {{"/bin/helper", "same"}})}}, {},
       true, "same"},
      {"owned by one package, uninstalled",
       {{"p.qpk", pack("p", "1.0", {{"/bin/helper", "mine"}})}, {"q.qpk", pack("q", "1.0", {{"/bin/q", "q"}})}}, {},
       true, ""},
  };
  for (const auto& row : rows) {
    ScratchRoot root;
    installFirst(root, row.installed);
    for (const auto& [name, bytes] : row.uploaded) upload(root, name, bytes);
    if (row.uninstallP) root.write("/ram/pdb/p/schedule", "uninstall");
    const RunResult run = root.run({});
    EXPECT_EQ(run.status, 0) << row.name << ": " << run.outPlain;
    EXPECT_EQ(run.outPlain.find("ERROR"), std::string::npos) << row.name << ": " << run.outPlain;
    EXPECT_EQ(root.exists("/flash/bin/helper") ? root.read("/flash/bin/helper") : "", row.helper) << row.name;
  }
}

// Status 0 in the upgrade run, 1 from standard input (2 for a bundle whose member fails).
TEST(Refusals, EachRefusalIsOneLineAndChangesNothing) {
  const auto withFile = [](const std::string& name, const std::string& path) { return pack(name, "1.0", {{path, "x"}}); };
  // Parts that no signature covers, between two signed members.
  const std::string unsealed = stream({{PartBundleHeader, qpk::encodeHeader("suite", version("1.0"), 1000, 0, true)},
                                       {PartBlob, "b"}, {0, withFile("one", "/bin/one").substr(8)}, {PartNote, "inserted"},
                                       {PartText24, "inserted"}, {0, withFile("two", "/bin/two").substr(8)}});
  struct Refusal {
    std::string bytes;
    std::string label;  // of "installation of <label> failed: broken package"
    int pipedStatus = 1;
    std::string line = "";  // another message
  };
  std::vector<Refusal> rows = {
      // Unsigned parts between members, and what cannot be kept without a blob.
      {unsealed, "suite-1.0", 2},
      {buildBundle(bundle("suite", "1.0", {S("one", "1.0", {{"/bin/one", "1"}})}, std::nullopt)), "", 1,
       "installation of suite-1.0 failed: a bundle without a blob cannot be kept"},
      {build(with(S("state", "1.0", {{"/bin/s", "s"}}), [](auto& s) { s.flags = kFlagStateOnly; })), "", 1,
       "installation of state-1.0 failed: a state-only package without a blob cannot be kept"},
      // Payload paths: into the database, with a space, over-long.
      {withFile("evil", "/var/pdb/phantom/version"), "evil-1.0"},
      {withFile("evil", "/var/./pdb/base/image/readme"), "evil-1.0"},
      {withFile("evil", "/www/My Page.html"), "evil-1.0"},
      {withFile("evil", "/bin/" + std::string(256, 'n')), "evil-1.0"},
      {build(with(S("good", "1.0", {{"/bin/x", "x"}}), provides("two words"))), "good-1.0"},
      // A member named like its bundle, or badly: labelled by the bundle.
      {buildBundle(bundle("suite", "1.0", {S("suite", "1.0", {{"/bin/s", "s"}})})), "suite-1.0", 2},
      {buildBundle(bundle("suite", "1.0", {S("fine", "1.0", {{"/bin/f", "f"}}), S("bad/name", "1.0")})), "suite-1.0", 2},
  };
  // Names the database cannot hold (and above, a relation name it cannot).
  for (std::string name : {"", "..", ".", "a b", "tab\tname", "ctl\x01", ".hidden", "image"})
    rows.push_back({withFile(name, "/bin/x"), name + "-1.0"});
  for (const auto& row : rows) {
    const std::string line = row.line.empty() ? "installation of " + row.label + " failed: broken package" : row.line;
    const std::string out = "ERROR: " + line + "\n";
    play({.what = row.label.c_str(), .first = base(), .uploads = {{"up.qpk", row.bytes}}, .out = out});
    play({.what = row.label.c_str(), .first = base(), .args = kPipe, .input = row.bytes, .status = row.pipedStatus, .out = out});
  }
  // The author's tool refuses the unsealed bundle too.
  ScratchRoot root;
  root.write("/tmp/unsealed.qpk", unsealed);
  const RunResult verify = runProgram({QPK_BINARY, "verify", root.host("/tmp/unsealed.qpk")}, {}, "");
  EXPECT_EQ(verify.status, 1);
  EXPECT_TRUE(hasLine(verify.out, "bundle: parts after a member's signature that no signature covers: refused")) << verify.out;
}

// An uninstallation acts on stored paths only below "/flash", outside the
// database, never on a folder; one a manifest cannot carry refuses "--safe".
TEST(Refusals, StoredPathsAreTrustedOnlyWhereTheyBelong) {
  const Files installed = {{"e.qpk", pack("etc", "1.0", {{"/etc/conf", "c"}})}, {"p.qpk", pack("p", "1.0", {{"/bin/p", "p"}})}};
  const Tree schedule = {{"/rw/config/users", "admin"}, {"/ram/pdb/p/schedule", "uninstall"}};
  play({.what = "a stored path with a space", .first = installed,
        .setup = schedule + Tree{{"/flash/boot/ x", "x"}, {"/flash/var/pdb/p/files", "flash/bin/p\nflash/boot/ x\n"}},
        .args = {"--safe"}, .status = 28, .out = "ERROR: upgrade failed: could not write /ram/MANIFEST\n",
        .also = {{"/ram/MANIFEST", kGone}}});
  play({.what = "stored paths outside their place", .first = installed,
        .setup = schedule + Tree{{"/flash/var/pdb/p/files",
                                 "flash/bin/p\nrw/config/users\nflash/etc\nflash/var/pdb/etc/version\n"}},
        .flash = entry("etc", "1.0", {{"/etc/conf", "c"}}) + kMarker, .also = {{"/rw/config/users", "admin"}}});
}

}  // namespace
