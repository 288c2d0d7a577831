// The default run end to end, one row per scenario: which uploads go in and
// from where, versions and downgrades, bundles and their members, stored
// and boot images, names that go missing, and refusals that drop the run.
#include "app/scenario.h"

using namespace scenario;

namespace {

// Upgrade runs that install, skip or refuse what was uploaded.
TEST(UpgradeRun, Scenarios) {
  const std::string alpha10 = pack("alpha", "1.0", {{"/bin/alpha", "one"}, {"/etc/old", "x"}});
  const std::string alpha11 = pack("alpha", "1.1", {{"/bin/alpha", "two"}});
  const Tree alpha10Tree = entry("alpha", "1.0", {{"/bin/alpha", "one"}, {"/etc/old", "x"}}) + kMarker;
  const Files base = {{"base.qpk", pack("base", "1.0", {{"/bin/base", "b"}})}};
  const Tree baseTree = entry("base", "1.0", {{"/bin/base", "b"}});
  std::string cut = pack("delta", "1.0", {{"/bin/delta", "d"}});
  cut.pop_back();
  const std::string pair = buildBundle(bundle("pair", "1.0", {S("left", "1.0", {{"/bin/left", "l"}, {"/etc/left.old", "o"}}),
                                                              S("right", "1.0", {{"/bin/right", "r"}})}, "image"));
  const std::string pair2 = buildBundle(bundle("pair", "2.0", {S("left", "2.0", {{"/bin/left", "l2"}})}, "image"));
  qpk::SigningKeys foreign = keys();
  foreign.eddsaSeed[0] ^= 0x5A;
  foreign.hasLegacy = false;  // a zero legacy half, which never verifies
  qpk::PackageSpec provider = S("alpha", "1.0", {{"/bin/alpha", "one"}});
  provider.provides.push_back(relation("feature"));
  qpk::PackageSpec exclusive = provider;
  exclusive.conflicts.push_back(relation("beta"));
  qpk::PackageSpec beta = S("beta", "1.0", {{"/bin/beta", "b"}});
  beta.provides.push_back(relation("feature"));
  qpk::PackageSpec gamma = S("gamma", "1.0", {{"/bin/gamma", "g"}});
  gamma.blob = std::string(5000, 'B');
  qpk::PackageSpec kernel = S("kernel", "1.0", {{"/boot/kernel", "k"}});
  kernel.flags = kFlagBootImage;
  kernel.blob = "boot blob";
  qpk::PackageSpec unrecordedKernel = kernel;
  unrecordedKernel.magic = UnrecordedMagic;
  qpk::PackageSpec hello = S("hello", "1.0", {{"/bin/hello", "one"}});
  hello.blob = "blob of 1.0";
  qpk::PackageSpec extra = S("hello", "2.0", {{"/bin/extra", "more"}});
  extra.blob = "blob of 2.0";
  extra.magic = UnrecordedMagic;
  qpk::PackageSpec libfoo = S("pkg", "1.0", {{"/bin/pkg", "1"}});
  libfoo.provides.push_back(relation("libfoo"));
  qpk::PackageSpec needsLibfoo = S("pkg", "2.0", {{"/bin/pkg", "2"}});
  needsLibfoo.dependencies.push_back(relation("libfoo"));
  qpk::BundleSpec suite = bundle("suite", "1.1", {S("a", "1.1", {{"/bin/a", "a"}}), S("b", "1.1", {{"/bin/b", "b"}}),
                                                  S("c", "1.1", {{"/bin/c", "c"}})});
  suite.memberList = std::vector<Relation>{relation("a"), relation("c")};
  const std::string suite10 = buildBundle(bundle("suite", "1.0", {S("a", "1.0", {{"/bin/a", "a"}}),
                                                                  S("b", "1.0", {{"/bin/b", "b"}}), S("c", "1.0", {{"/bin/c", "c"}})}));
  const std::string down = std::to_string(version("1.0"));
  const std::string gammaFile = build(gamma), kernelFile = build(kernel), helloFile = build(hello);
  const std::string extraFile = build(extra), unrecordedKernelFile = build(unrecordedKernel), suiteFile = buildBundle(suite);
  const Row rows[] = {
      {.what = "fresh install; no blob, so the upload stays", .uploads = {{"alpha.qpk", alpha10}},
       .out = "installed alpha-1.0\n", .flash = alpha10Tree, .also = {{"/rw/pckg/.download/alpha.qpk", alpha10}}},
      {.what = "a newer version replaces the files", .first = {{"a.qpk", alpha10}}, .uploads = {{"a.qpk", alpha11}},
       .out = "installed alpha-1.1\n", .flash = entry("alpha", "1.1", {{"/bin/alpha", "two"}}) + kMarker},
      // An older version needs "-down" or a downgrade file with a minimum at or below it.
      {.what = "older version", .first = {{"a.qpk", alpha11}}, .uploads = {{"a.qpk", alpha10}},
       .out = "WARNING: omitting package alpha-1.0: newer package alpha-1.1 is already installed\n"},
      {.what = "-down", .first = {{"a.qpk", alpha11}}, .uploads = {{"a.qpk", alpha10}}, .args = {"-down"},
       .out = "installed alpha-1.0\n", .flash = alpha10Tree},
      {.what = "empty downgrade file", .first = {{"a.qpk", alpha11}}, .setup = {{"/ram/DOWNGRADE", ""}},
       .uploads = {{"a.qpk", alpha10}}, .out = "installed alpha-1.0\n", .flash = alpha10Tree},
      {.what = "minimum at the version", .first = {{"a.qpk", alpha11}}, .setup = {{"/ram/DOWNGRADE", down + "\n"}},
       .uploads = {{"a.qpk", alpha10}}, .out = "installed alpha-1.0\n", .flash = alpha10Tree},
      {.what = "minimum above the version", .first = {{"a.qpk", alpha11}},
       .setup = {{"/ram/DOWNGRADE", std::to_string(version("1.1"))}}, .uploads = {{"a.qpk", alpha10}},
       .out = "WARNING: ommitting package alpha-1.0: not allowed\n"},
      // Only the first upload folder holding packages counts; IGNORE turns the download folder off.
      {.what = "download folder first", .uploads = {{"a.qpk", alpha10}, {"/flash/rw/pckg/b.qpk", base[0].second}},
       .out = "installed alpha-1.0\n", .flash = alpha10Tree + Tree{{"/flash/rw/pckg/b.qpk", base[0].second}}},
      {.what = "IGNORE", .setup = {{"/rw/pckg/.download/IGNORE", ""}},
       .uploads = {{"a.qpk", alpha10}, {"/flash/rw/pckg/b.qpk", base[0].second}, {"/flash/var/pckg/c.qpk", alpha11}},
       .out = "installed base-1.0\n",
       .flash = baseTree + kMarker + Tree{{"/flash/rw/pckg/b.qpk", base[0].second}, {"/flash/var/pckg/c.qpk", alpha11}}},
      {.what = "the last folder", .uploads = {{"/flash/var/pckg/c.qpk", alpha11}}, .out = "installed alpha-1.1\n",
       .flash = entry("alpha", "1.1", {{"/bin/alpha", "two"}}) + kMarker + Tree{{"/flash/var/pckg/c.qpk", alpha11}}},
      // Only ".qpk" and ".zpk" names that do not start with a dot are candidates.
      // A folder among the uploads is named; a folder where an image belongs reads as no image.
      {.what = "upload names", .first = base,
       .setup = {{"/rw/pckg/.download/d.qpk/", ""}, {"/flash/var/pdb/base/image/readme/", ""}},
       .uploads = {{"a.zpk", alpha10}, {"b.QPK", alpha11}, {".c.qpk", alpha11}},
       .out = "ERROR: broken package d.qpk\ninstalled alpha-1.0\n", .flash = baseTree + alpha10Tree,
       .log = "ERROR: broken package d.qpk\ninstalled base-1.0\ninstalled alpha-1.0\n"},  // the old log joins after the scan
      {.what = "a cut upload is named and skipped", .uploads = {{"d.qpk", cut}, {"a.qpk", alpha10}},
       .out = "ERROR: broken package d.qpk\ninstalled alpha-1.0\n", .flash = alpha10Tree},
      {.what = "a bundle without members is broken", .first = base,
       .uploads = {{"e.qpk", buildBundle(bundle("empty", "1.0", {}))}}, .out = "ERROR: broken package e.qpk\n"},
      {.what = "no database and no uploads", .out = "ERROR: router installation failed!!!\n"},
      {.what = "a bundle keeps its upload as image", .uploads = {{"pair.qpk", pair}}, .out = "installed pair-1.0\n",
       .flash = entry("left", "1.0", {{"/bin/left", "l"}, {"/etc/left.old", "o"}}, {{"bundle", "pair\n"}}) +
                entry("right", "1.0", {{"/bin/right", "r"}}, {{"bundle", "pair\n"}}) +
                imaged("pair", pair) + kMarker,
       .also = {{"/rw/pckg/.download/pair.qpk", kGone}}},
      // Members are loaded from their bundle's image; their file lists must still be read.
      {.what = "a bundle upgrade removes what its members no longer have", .first = {{"pair.qpk", pair}},
       .uploads = {{"pair.qpk", pair2}}, .out = "installed pair-2.0\n",
       .flash = entry("left", "2.0", {{"/bin/left", "l2"}}, {{"bundle", "pair\n"}}) + imaged("pair", pair2) +
                kMarker},
      {.what = "a bad signature fails the whole run",
       .uploads = {{"a.qpk", alpha10}, {"b.qpk", build(S("beta", "1.0", {{"/bin/beta", "b"}}), foreign)}},
       .out = "ERROR: installation of beta-1.0 failed: broken package\n", .flash = Tree{}},
      // A name an enabled package had must stay available, unless a download drops it.
      {.what = "a lost name stops a run from flash", .first = {{"a.qpk", build(provider)}},
       .uploads = {{"/flash/rw/pckg/a.qpk", alpha11}}, .out = "ERROR: missing package feature\n"},
      // A provides file an older version left stays.
      {.what = "but not a download", .first = {{"a.qpk", build(provider)}}, .uploads = {{"a.qpk", alpha11}},
       .out = "installed alpha-1.1\n",
       .flash = entry("alpha", "1.1", {{"/bin/alpha", "two"}}, {{"provides", "feature 0 0 0\n"}}) + kMarker},
      // Enabling changes the state files only: the files stay below "/flash/x".
      {.what = "a disabled provider is enabled when its name goes missing",
       .first = {{"a.qpk", build(exclusive)}, {"b.qpk", build(beta)}}, .uploads = {{"a.qpk", alpha11}},
       .out = "enabled beta-1.0\ninstalled alpha-1.1\n",
       .flash = entry("alpha", "1.1", {{"/bin/alpha", "two"}}, {{"provides", "feature 0 0 0\n"}, {"conflicts", "beta 0 0\n"}}) +
                kMarker + entry("beta", "1.0", {{"/x/beta/bin/beta", "b"}}, {{"provides", "feature 0 0 0\n"}})},
      {.what = "blob uploads become the stored image or the boot image",
       .uploads = {{"gamma.qpk", gammaFile}, {"kernel.qpk", kernelFile}}, .env = {{"bootimage", "1"}},
       .out = "installed kernel-1.0\ninstalled gamma-1.0\n",
       .flash = imaged("gamma", gammaFile, {{"/bin/gamma", "g"}}) + imaged("kernel", "-> /flash/bootimage") +
                Tree{{"/flash/bootimage", kernelFile}, {"/flash/UPGRADED", ""}} + kMarker},
      // An unrecorded package has no entry: its upload never lands in one.
      {.what = "unrecorded upload beside an installed image", .first = {{"h.qpk", helloFile}},
       .uploads = {{"x.qpk", extraFile}}, .out = "installed hello-2.0\n",
       .flash = imaged("hello", helloFile, {{"/bin/hello", "one"}}) +
                Tree{{"/flash/bin/extra", "more"}} + kMarker,
       .also = {{"/rw/pckg/.download/x.qpk", extraFile}}},
      {.what = "unrecorded upload alone", .first = base, .uploads = {{"x.qpk", extraFile}},
       .out = "installed hello-2.0\n", .flash = baseTree + Tree{{"/flash/bin/extra", "more"}} + kMarker},
      {.what = "unrecorded boot image", .first = base, .uploads = {{"k.qpk", unrecordedKernelFile}},
       .env = {{"bootimage", "1"}}, .out = "installed kernel-1.0\n",
       .flash = baseTree + Tree{{"/flash/bootimage", unrecordedKernelFile}, {"/flash/UPGRADED", ""}} + kMarker},
      // The new version needs a name only its own old version provided.
      {.what = "a lost self-provided dependency is named", .first = {base[0], {"pkg.qpk", build(libfoo)}},
       .uploads = {{"pkg.qpk", build(needsLibfoo)}},
       .out = "ERROR: can not install pkg-2.0: libfoo is not installed, but is required\n"},
      {.what = "an entry path held by a file", .first = base, .setup = {{"/flash/var/pdb/foo", "not a directory"}},
       .uploads = {{"foo.qpk", pack("foo", "1.0", {{"/bin/foo", "f"}})}},
       .out = "ERROR: installation of foo-1.0 failed: could not create /flash/var/pdb/foo/: Not a directory\n"},
      // The user's choice carries over to the new member; a listed one without a choice comes out
      // disabled, and is enabled again as the only holder of its name.
      {.what = "choices and a member list", .first = {{"s.qpk", suite10}},
       .setup = {{"/flash/var/pdb/c/enabled", ""}}, .uploads = {{"s.qpk", suiteFile}},
       .out = "enabled a-1.1\ninstalled suite-1.1\n",
       .flash = entry("a", "1.1", {{"/x/a/bin/a", "a"}}, {{"bundle", "suite\n"}}) +
                entry("b", "1.1", {{"/bin/b", "b"}}, {{"bundle", "suite\n"}}) +
                entry("c", "1.1", {{"/bin/c", "c"}}, {{"bundle", "suite\n"}, {"enabled", "user\n"}}) +
                imaged("suite", suiteFile) + kMarker},
      // A resumed run counts an equal version as installed, with the user's choice in the label.
      {.what = "reinstalling", .first = {base[0], {"a.qpk", alpha10}}, .setup = {{"/flash/var/pdb/alpha/disabled", "user\n"}},
       .uploads = {{"a.qpk", alpha10}}, .args = {"--reinstall"},
       .out = "\nResuming upgrade...\ninstalled (disabled) alpha-1.0\ninstalled alpha-1.0\n"},
  };
  for (const Row& row : rows) play(row);
}

// A payload path the commit could not create ends the run before anything
// changes, in the upgrade run and from standard input alike.
TEST(UpgradeRun, WhatTheCommitCannotCreateIsRefusedBeforeAnyChange) {
  const std::string notDir = pack("alpha", "1.0", {{"/bin/alpha", "a"}, {"/etc/config", "x"}});
  const std::string isDir = pack("alpha", "1.0", {{"/bin/alpha", "a"}, {"/www/index.html", "x"}});
  const std::string why1 = "failed: could not create /flash/etc/config: Not a directory\n";
  const std::string why2 = "failed: could not create /flash/www/index.html: Is a directory\n";
  const Tree file = {{"/flash/etc", "in the way"}}, folder = {{"/flash/www/index.html/", ""}};
  const Row rows[] = {
      {.what = "file", .setup = file, .uploads = {{"a.qpk", notDir}}, .status = 28, .out = "ERROR: upgrade " + why1},
      {.what = "folder", .setup = folder, .uploads = {{"a.qpk", isDir}}, .status = 28, .out = "ERROR: upgrade " + why2},
      {.what = "piped, file", .setup = file, .args = {"-"}, .input = notDir, .status = 255,
       .out = "ERROR: installation " + why1},
      {.what = "piped, folder", .setup = folder, .args = {"-"}, .input = isDir, .status = 255,
       .out = "ERROR: installation " + why2},
  };
  for (const Row& row : rows) play(row);
}

}  // namespace
