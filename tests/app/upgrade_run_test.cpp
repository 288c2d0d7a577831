// The default run end to end, and the "--cleanup" run.
#include "app/scenario.h"

using namespace scenario;

namespace {

TEST(UpgradeRun, Scenarios) {
  const std::string alpha10 = pack("alpha", "1.0", {{"/bin/alpha", "one"}, {"/etc/old", "x"}});
  const std::string alpha11 = pack("alpha", "1.1", {{"/bin/alpha", "two"}});
  const Tree alpha10Tree = entry("alpha", "1.0", {{"/bin/alpha", "one"}, {"/etc/old", "x"}}) + kMarker;
  const Tree alpha11Tree = entry("alpha", "1.1", {{"/bin/alpha", "two"}}) + kMarker;
  const std::string baseFile = base()[0].second;
  const std::string pair = buildBundle(bundle("pair", "1.0", {S("left", "1.0", {{"/bin/left", "l"}, {"/etc/left.old", "o"}}),
                                                              S("right", "1.0", {{"/bin/right", "r"}})}, "image"));
  const std::string pair2 = buildBundle(bundle("pair", "2.0", {S("left", "2.0", {{"/bin/left", "l2"}})}, "image"));
  const std::string provider = build(with(S("alpha", "1.0", {{"/bin/alpha", "one"}}), provides("feature")));
  const std::string gamma = build(with(S("gamma", "1.0", {{"/bin/gamma", "g"}}), withBlob(std::string(5000, 'B'))));
  const std::string kernel = build(with(with(S("kernel", "1.0", {{"/boot/kernel", "k"}}), withFlags(kFlagBootImage)), withBlob("boot blob")));
  const Row rows[] = {
      {.what = "a newer version replaces the files; no blob, so the upload stays", .first = {{"a.qpk", alpha10}},
       .uploads = {{"a.qpk", alpha11}}, .out = "installed alpha-1.1\n", .flash = alpha11Tree,
       .also = {{"/rw/pckg/.download/a.qpk", alpha11}}},
      // An older version needs "-down" or a downgrade file with a minimum at or below it.
      {.what = "older version", .first = {{"a.qpk", alpha11}}, .uploads = {{"a.qpk", alpha10}},
       .out = "WARNING: omitting package alpha-1.0: newer package alpha-1.1 is already installed\n"},
      {.what = "-down", .first = {{"a.qpk", alpha11}}, .uploads = {{"a.qpk", alpha10}}, .args = {"-down"},
       .out = "installed alpha-1.0\n", .flash = alpha10Tree},
      {.what = "minimum at the version", .first = {{"a.qpk", alpha11}}, .setup = {{"/ram/DOWNGRADE", std::to_string(version("1.0"))}},
       .uploads = {{"a.qpk", alpha10}}, .out = "installed alpha-1.0\n", .flash = alpha10Tree},
      {.what = "minimum above the version", .first = {{"a.qpk", alpha11}}, .setup = {{"/ram/DOWNGRADE", std::to_string(version("1.1"))}},
       .uploads = {{"a.qpk", alpha10}}, .out = "WARNING: ommitting package alpha-1.0: not allowed\n"},
      // Only the first upload folder holding packages counts; IGNORE turns the download folder off.
      {.what = "IGNORE", .setup = {{"/rw/pckg/.download/IGNORE", ""}},
       .uploads = {{"a.qpk", alpha10}, {"/flash/rw/pckg/b.qpk", baseFile}, {"/flash/var/pckg/c.qpk", alpha11}},
       .out = "installed base-1.0\n",
       .flash = kBase + kMarker + Tree{{"/flash/rw/pckg/b.qpk", baseFile}, {"/flash/var/pckg/c.qpk", alpha11}}},
      // Only ".qpk" and ".zpk" names not starting with a dot; a folder among the uploads is
      // named, one where an image belongs reads as no image; the old log joins after the scan.
      {.what = "upload names", .first = base(),
       .setup = {{"/rw/pckg/.download/d.qpk/", ""}, {"/flash/var/pdb/base/image/readme/", ""}},
       .uploads = {{"a.zpk", alpha10}, {"b.QPK", alpha11}, {".c.qpk", alpha11}},
       .out = "ERROR: broken package d.qpk\ninstalled alpha-1.0\n", .flash = kBase + alpha10Tree,
       .log = "ERROR: broken package d.qpk\ninstalled base-1.0\ninstalled alpha-1.0\n"},
      {.what = "no database and no uploads", .out = "ERROR: router installation failed!!!\n"},
      {.what = "the image copy of a cut-off run from standard input goes", .first = base(),
       .setup = {{"/flash/var/pdb/image", "cut"}}, .flash = kBase},
      // A bundle keeps its upload as image; its members are loaded from there, and their file lists must still be read.
      {.what = "a bundle upgrade removes what its members no longer have", .first = {{"pair.qpk", pair}},
       .uploads = {{"pair.qpk", pair2}}, .out = "installed pair-2.0\n",
       .flash = entry("left", "2.0", {{"/bin/left", "l2"}}, {{"bundle", "pair\n"}}) + imaged("pair", pair2) + kMarker,
       .also = {{"/rw/pckg/.download/pair.qpk", kGone}}},
      {.what = "an unsigned upload fails the whole run",
       .uploads = {{"a.qpk", alpha10}, {"b.qpk", build(with(S("beta", "1.0"), unsignedForm))}},
       .out = "ERROR: installation of beta-1.0 failed: broken package\n", .flash = Tree{}},
      // A name an enabled package had must stay, unless a download drops it.
      {.what = "a lost name stops a run from flash", .first = {{"a.qpk", provider}},
       .uploads = {{"/flash/rw/pckg/a.qpk", alpha11}}, .out = "ERROR: missing package feature\n"},
      {.what = "but not a download", .first = {{"a.qpk", provider}}, .uploads = {{"a.qpk", alpha11}},
       .out = "installed alpha-1.1\n", .flash = alpha11Tree + Tree{{"/flash/var/pdb/alpha/provides", "feature 0 0 0\n"}}},
      {.what = "blob uploads become the stored image or the boot image",
       .uploads = {{"gamma.qpk", gamma}, {"kernel.qpk", kernel}}, .env = {{"bootimage", "1"}},
       .out = "installed kernel-1.0\ninstalled gamma-1.0\n",
       .flash = imaged("gamma", gamma, {{"/bin/gamma", "g"}}) + imaged("kernel", "-> /flash/bootimage") +
                Tree{{"/flash/bootimage", kernel}, {"/flash/UPGRADED", ""}} + kMarker},
      // A payload path the commit could not create ends the run before any change.
      {.what = "a file in the way", .setup = {{"/flash/etc", "in the way"}},
       .uploads = {{"a.qpk", pack("alpha", "1.0", {{"/bin/alpha", "a"}, {"/etc/config", "x"}})}}, .status = 28,
       .out = "ERROR: upgrade failed: could not create /flash/etc/config: Not a directory\n"},
      {.what = "a folder in the way", .setup = {{"/flash/www/index.html/", ""}}, .args = kPipe,
       .input = pack("alpha", "1.0", {{"/bin/alpha", "a"}, {"/www/index.html", "x"}}), .status = 255,
       .out = "ERROR: installation failed: could not create /flash/www/index.html: Is a directory\n"},
  };
  for (const Row& row : rows) play(row);
}

// What is not built for system 3.22 or later goes, but base packages and bundles; no marker, no log.
TEST(Cleanup, RemovesWhatDoesNotRequireACurrentSystem) {
  const auto needing = [](const std::string& name, std::vector<Relation> dependencies) {
    return with(S(name, "1.0", {{"/bin/" + name, name}}), [&](auto& s) { s.dependencies = dependencies; });
  };
  Files uploads = {{"system.qpk", pack("system", "3.22", {{"/bin/system", "s"}})},
                   {"bund.qpk", buildBundle(bundle("bund", "1.0", {needing("member-new", {relation("system", "3.22")}),
                                                                   needing("member-old", {})}, "image"))}};
  for (const auto& [name, dependencies] : std::vector<std::pair<std::string, std::vector<Relation>>>{
           {"modern", {relation("system", "3.22")}}, {"old", {relation("system", "3.21")}}, {"nodep", {}},
           {"anyver", {relation("system")}}, {"multi", {relation("system", "3.21"), relation("system", "3.22")}},
           {"zelk", {}}, {"disk-drivers", {}}})
    uploads.push_back({name + ".qpk", build(needing(name, dependencies))});
  ScratchRoot installed;
  installFirst(installed, uploads);
  Tree expected = flashTree(installed);
  for (const std::string gone : {"/old/", "/nodep/", "/anyver/", "/member-old/"})
    std::erase_if(expected, [&](const auto& file) { return (file.first + "/").find(gone) != std::string::npos; });
  // The scheduled requests run first, silently; disabling changes the state file only, and an
  // entry that then goes takes its staged state file with it.
  expected["/flash/var/pdb/zelk/disabled"] = "user\n";
  const Tree schedules = {{"/ram/pdb/zelk/schedule", "disable\n"}, {"/ram/pdb/old/schedule", "disable\n"}};
  play({.what = "clean-up", .first = uploads, .setup = schedules, .args = {"--cleanup"}, .flash = expected});
}

}  // namespace
