// No package takes another's files; every refusal says so in one line and changes nothing.
#include "app/scenario.h"

using namespace scenario;

namespace {

// A file that changes hands in one run (b first: the new a needs it) or that two packages share stays owned.
TEST(Ownership, FilesThatChangeHandsOrAreSharedStay) {
  const auto a = [](const char* v, const Tree& files) { return pack("mover-a", v, files + Tree{{"/bin/a", "a"}}); };
  const auto b = [](const char* v, const Tree& files) { return pack("mover-b", v, files + Tree{{"/bin/b", "b"}}); };
  const auto a2 = [](const Tree& files) { return build(with(S("mover-a", "2.0", files + Tree{{"/bin/a", "a"}}), needs("mover-b"))); };
  const auto after = [](const Tree& aFiles, const Tree& bFiles) {
    return entry("mover-a", "2.0", aFiles + Tree{{"/bin/a", "a"}}, {{"deps", "mover-b 0 0\n"}}) +
           entry("mover-b", "2.0", bFiles + Tree{{"/bin/b", "b"}}) + kMarker;
  };
  const Tree oldHelper = {{"/bin/helper", "old"}}, newHelper = {{"/bin/helper", "new"}}, same = {{"/bin/helper", "same"}};
  const std::string suite2 = buildBundle(bundle("suite", "2.0", {S("m1", "2.0", newHelper + Tree{{"/bin/m1", "1"}})}));
  const Row rows[] = {
      {.what = "moves from a to b", .first = {{"a.qpk", a("1.0", oldHelper)}, {"b.qpk", b("1.0", {})}},
       .uploads = {{"a.qpk", a2({})}, {"b.qpk", b("2.0", newHelper)}}, .out = "installed mover-b-2.0\ninstalled mover-a-2.0\n",
       .flash = after({}, newHelper)},
      {.what = "moves from b to a", .first = {{"a.qpk", a("1.0", {})}, {"b.qpk", b("1.0", oldHelper)}},
       .uploads = {{"a.qpk", a2(newHelper)}, {"b.qpk", b("2.0", {})}}, .out = "installed mover-b-2.0\ninstalled mover-a-2.0\n",
       .flash = after(newHelper, {})},
      {.what = "moves from a member the new bundle drops to one it keeps",
       .first = {base()[0],
                 {"s.qpk", buildBundle(bundle("suite", "1.0", {S("m1", "1.0", {{"/bin/m1", "1"}}), S("m2", "1.0", oldHelper)}))}},
       .uploads = {{"s.qpk", suite2}}, .out = "installed suite-2.0\n",
       .flash = kBase + entry("m1", "2.0", newHelper + Tree{{"/bin/m1", "1"}}, {{"bundle", "suite\n"}}) + imaged("suite", suite2) +
                kMarker},
      {.what = "shared by two packages, one uninstalled", .first = {{"p.qpk", pack("p", "1.0", same)}, {"q.qpk", pack("q", "1.0", same)}},
       .setup = {{"/ram/pdb/p/schedule", "uninstall"}}, .flash = entry("q", "1.0", same) + kMarker},
  };
  for (const Row& row : rows) play(row);
}

// Status 0 in the upgrade run; from standard input 1, or 2 (3) for a bundle whose member fails (that has none).
TEST(Refusals, EachRefusalIsOneLineAndChangesNothing) {
  const auto withFile = [](const std::string& name, const std::string& path) { return pack(name, "1.0", {{path, "x"}}); };
  const auto broken = [](const std::string& label) { return "installation of " + label + " failed: broken package"; };
  // Parts that no signature covers, between two signed members.
  const std::string unsealed = stream({{PartBundleHeader, qpk::encodeHeader("suite", version("1.0"), 1000, 0, true)},
                                       {PartBlob, "b"}, {0, withFile("one", "/bin/one").substr(8)}, {PartNote, "inserted"},
                                       {PartText24, "inserted"}, {0, withFile("two", "/bin/two").substr(8)}});
  const qpk::BundleSpec bun = bundle("bun", "1.0", {S("a", "1.0", {{"/bin/a", "a"}})});
  const std::string members = buildBundle(bun).substr(8), header = qpk::encodeHeader("bun", version("1.0"), 1000, 0, true);
  const std::string x = qpk::encodeRelations({relation("x")});
  const std::string listed = buildBundle(with(bun, listing({relation("a"), relation("z")}))).substr(8);
  // Bytes, the error line, the status piped, and the line when the scan refuses the upload.
  std::vector<std::tuple<std::string, std::string, int, std::string>> rows = {
      {unsealed, broken("suite-1.0"), 2, ""},
      // Bundle streams that go on with something else after the members, or break off.
      {stream({{0, members}, {PartProvides, x}}), broken("bun-1.0"), 2, ""},
      {stream({{0, listed}, {PartProvides, x}}), broken("bun-1.0"), 2, ""},
      {stream({{PartBundleHeader, header}, {PartDependencies, x}, {0, members.substr(6 + 36)}}), broken("bun-1.0"), 1, ""},
      {stream({{PartBundleHeader, header}, {PartBlob, "b"}}), broken("bun-1.0"), 3, "broken package up.qpk"},
      {stream({{PartBundleHeader, header}, {PartBlob, "b"},
               {PartBundleMembers, qpk::encodeRelations({relation("a"), relation("b")}).substr(0, 40)}}),
       broken("bun-1.0"), 2, "broken package up.qpk"},
      {buildBundle(bundle("suite", "1.0", {S("one", "1.0", {{"/bin/one", "1"}})}, std::nullopt)),
       "installation of suite-1.0 failed: a bundle without a blob cannot be kept", 1, ""},
      {build(with(S("state", "1.0", {{"/bin/s", "s"}}), withFlags(kFlagStateOnly))),
       "installation of state-1.0 failed: a state-only package without a blob cannot be kept", 1, ""},
      // A payload path into the database; a relation name the database cannot hold.
      {withFile("evil", "/var/./pdb/base/image/readme"), broken("evil-1.0"), 1, ""},
      {build(with(S("good", "1.0", {{"/bin/x", "x"}}), provides("two words"))), broken("good-1.0"), 1, ""},
      // A member named like its bundle, or badly: labelled by the bundle.
      {buildBundle(bundle("suite", "1.0", {S("suite", "1.0", {{"/bin/s", "s"}})})), broken("suite-1.0"), 2, ""},
      {buildBundle(bundle("suite", "1.0", {S("fine", "1.0", {{"/bin/f", "f"}}), S("bad/name", "1.0")})),
       broken("suite-1.0"), 2, ""},
  };
  for (std::string name : {"", "..", ".", "a b", "tab\tname", "ctl\x01", ".hidden", "image"})
    rows.push_back({withFile(name, "/bin/x"), broken(name + "-1.0"), 1, ""});
  for (const auto& [bytes, line, status, uploadLine] : rows) {
    play({.what = line.c_str(), .first = base(), .uploads = {{"up.qpk", bytes}},
          .out = "ERROR: " + (uploadLine.empty() ? line : uploadLine) + "\n"});
    play({.what = line.c_str(), .first = base(), .args = kPipe, .input = bytes, .status = status, .out = "ERROR: " + line + "\n"});
  }
  // The author's tool refuses the unsealed bundle too.
  ScratchRoot root;
  root.write("/tmp/unsealed.qpk", unsealed);
  const RunResult verify = runProgram({QPK_BINARY, "verify", root.host("/tmp/unsealed.qpk")});
  EXPECT_EQ(verify.status, 1);
  EXPECT_TRUE(hasLine(verify.out, "bundle: parts after a member's signature that no signature covers: refused")) << verify.out;
}

// Stored paths count only below "/flash", outside the database, never a folder; "--safe" refuses odd ones.
TEST(Refusals, StoredPathsAreTrustedOnlyWhereTheyBelong) {
  const Files installed = {{"e.qpk", pack("etc", "1.0", {{"/etc/conf", "c"}})}, {"p.qpk", pack("p", "1.0", {{"/bin/p", "p"}})}};
  const Tree schedule = {{"/rw/config/users", "admin"}, {"/ram/pdb/p/schedule", "uninstall"}};
  play({.what = "a stored path with a space", .first = installed,
        .setup = schedule + Tree{{"/flash/boot/ x", "x"}, {"/flash/var/pdb/p/files", "flash/bin/p\nflash/boot/ x\n"}},
        .args = {"--safe"}, .status = 28, .out = "ERROR: upgrade failed: could not write /ram/MANIFEST\n"});
  play({.what = "stored paths outside their place", .first = installed,
        .setup = schedule + Tree{{"/flash/var/pdb/p/files",
                                 "flash/bin/p\nrw/config/users\nflash/etc\nflash/var/pdb/etc/version\n"}},
        .flash = entry("etc", "1.0", {{"/etc/conf", "c"}}) + kMarker, .also = {{"/rw/config/users", "admin"}}});
}

}  // namespace
