// The default run end to end: uploads in, files and database entries on
// flash, the marker, the manifest in safe mode, the post-commit program.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>

#include "staging/atomic_writer.h"
#include "support/fixtures.h"

using namespace fixtures;

namespace {

std::string alpha(const char* versionText, const std::string& content) {
  return build(spec("alpha", versionText, {file("/bin/alpha", content)}));
}

TEST(UpgradeRun, FreshInstallThenANewerVersion) {
  ScratchRoot root;
  upload(root, "alpha.qpk", build(spec("alpha", "1.0", {file("/bin/alpha", "one"), file("/etc/old", "x")})));
  RunResult run = root.run({});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(hasLine(run.outPlain, "installed alpha-1.0")) << run.outPlain;
  // No blob: the upload is not kept as an image and stays where it was.
  EXPECT_EQ(flashTree(root), (std::map<std::string, std::string>{
                                 {"/flash/bin/alpha", "one"},
                                 {"/flash/etc/old", "x"},
                                 {"/flash/var/pdb/alpha/version", versionLine("1.0")},
                                 {"/flash/var/pdb/alpha/files", "flash/bin/alpha\nflash/etc/old\n"},
                                 {"/flash/var/pdb/alpha/deps", ""},
                                 {"/flash/PCKGS_CHANGED", ""}}));
  EXPECT_TRUE(root.exists("/rw/pckg/.download/alpha.qpk"));
  EXPECT_FALSE(root.exists("/ram/MANIFEST"));
  EXPECT_TRUE(hasLine(root.read("/flash/postlog"), "installed alpha-1.0"));
  root.remove("/rw/pckg/.download/alpha.qpk");
  root.remove("/flash/PCKGS_CHANGED");
  upload(root, "alpha-1.1.qpk", alpha("1.1", "two"));
  run = root.run({});
  EXPECT_TRUE(hasLine(run.outPlain, "installed alpha-1.1")) << run.outPlain;
  EXPECT_EQ(root.read("/flash/bin/alpha"), "two");
  EXPECT_FALSE(root.exists("/flash/etc/old"));
  EXPECT_TRUE(root.exists("/flash/PCKGS_CHANGED"));
}

// A payload path the commit could not create ends the run before anything
// changes, in the upgrade run and from standard input alike.
TEST(UpgradeRun, WhatTheCommitCannotCreateIsRefusedBeforeAnyChange) {
  const struct {
    const char* obstacle;  // a file, or a folder when it ends in "/"
    const char* path;
    const char* why;
  } rows[] = {
      {"/flash/etc", "/etc/config", "could not create /flash/etc/config: Not a directory"},
      {"/flash/www/index.html/", "/www/index.html", "could not create /flash/www/index.html: Is a directory"},
  };
  for (const auto& row : rows) {
    for (const bool piped : {false, true}) {
      ScratchRoot root;
      if (row.obstacle[std::strlen(row.obstacle) - 1] == '/') {
        makeDirectories(root.host(row.obstacle));
      } else {
        root.write(row.obstacle, "in the way");
      }
      const auto before = flashTree(root);
      const std::string package = build(spec("alpha", "1.0", {file("/bin/alpha", "a"), file(row.path, "x")}));
      if (!piped) upload(root, "alpha.qpk", package);
      const RunResult run = piped ? root.run({"-"}, {}, package) : root.run({});
      EXPECT_EQ(run.status, piped ? 255 : 28) << row.path;
      EXPECT_EQ(run.outPlain, std::string("ERROR: ") + (piped ? "installation" : "upgrade") + " failed: " + row.why + "\n");
      EXPECT_EQ(flashTree(root), before) << row.path;
      EXPECT_FALSE(root.exists("/flash/.installer")) << row.path;
    }
  }
}

TEST(UpgradeRun, OlderVersionNeedsADowngrade) {
  const struct {
    std::vector<std::string> args;
    std::optional<std::string> downgradeFile;
    bool downgraded;
  } cases[] = {
      {{}, std::nullopt, false},
      {{"-down"}, std::nullopt, true},
      {{}, "", true},
      {{}, std::to_string(version("1.0")) + "\n", true},  // a minimum at or below the old version
      {{}, std::to_string(version("1.1")), false},
  };
  for (const auto& c : cases) {
    ScratchRoot root;
    installFirst(root, {{"alpha.qpk", alpha("1.1", "new")}});
    upload(root, "alpha-old.qpk", alpha("1.0", "old"));
    if (c.downgradeFile) root.write("/ram/DOWNGRADE", *c.downgradeFile);
    const RunResult run = root.run(c.args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(root.read("/flash/bin/alpha"), c.downgraded ? "old" : "new") << run.outPlain;
    EXPECT_EQ(hasLine(run.outPlain, "installed alpha-1.0"), c.downgraded) << run.outPlain;
    EXPECT_EQ(root.exists("/flash/PCKGS_CHANGED"), c.downgraded);
    if (c.downgradeFile && !c.downgraded) {
      EXPECT_TRUE(hasLine(run.outPlain, "WARNING: ommitting package alpha-1.0: not allowed")) << run.outPlain;
    }
  }
}

TEST(UpgradeRun, OnlyTheFirstDirectoryWithPackagesCounts) {
  const std::map<std::string, const char*> packageIn = {
      {kDownload, "alpha"}, {kFlashUpload, "beta"}, {kFlashPackages, "gamma"}};
  const struct {
    std::vector<std::string> directories;
    bool ignore;
    const char* installed;
  } cases[] = {
      {{kDownload, kFlashUpload}, false, "alpha"},
      {{kDownload, kFlashUpload, kFlashPackages}, true, "beta"},  // IGNORE turns the download directory off
      {{kFlashPackages}, false, "gamma"},  // the last is used when the others hold nothing
  };
  for (const auto& c : cases) {
    ScratchRoot root;
    for (const std::string& directory : c.directories) {
      const char* name = packageIn.at(directory);
      upload(root, std::string(name) + ".qpk", build(spec(name, "1.0", {file(std::string("/bin/") + name, name)})),
             directory);
    }
    if (c.ignore) root.write("/rw/pckg/.download/IGNORE", "");
    EXPECT_EQ(root.run({}).status, 0);
    EXPECT_EQ(root.list("/flash/bin"), std::vector<std::string>{c.installed});
  }
}

// Only ".qpk" and ".zpk" names are candidates; a cut upload and a bundle
// without members are broken, reported by file name and skipped.
TEST(UpgradeRun, WhichUploadsGoIn) {
  ScratchRoot root;
  upload(root, "alpha.zpk", alpha("1.0", "z"));
  upload(root, "beta.QPK", build(spec("beta", "1.0", {file("/bin/beta", "b")})));
  upload(root, ".gamma.qpk", build(spec("gamma", "1.0", {file("/bin/gamma", "g")})));
  std::string cut = build(spec("delta", "1.0", {file("/bin/delta", "d")}));
  cut.pop_back();
  upload(root, "delta-cut.qpk", cut);
  upload(root, "empty.qpk", buildBundle(bundle("empty", "1.0", {})));
  upload(root, "pair.qpk", buildBundle(bundle("pair", "1.0", {spec("left", "1.0", {file("/bin/left", "l")}),
                                                              spec("right", "1.0", {file("/bin/right", "r")})},
                                              "image")));
  const RunResult run = root.run({});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(hasLine(run.outPlain, "ERROR: broken package delta-cut.qpk")) << run.outPlain;
  EXPECT_TRUE(hasLine(run.outPlain, "ERROR: broken package empty.qpk")) << run.outPlain;
  EXPECT_TRUE(hasLine(run.outPlain, "installed pair-1.0")) << run.outPlain;
  EXPECT_EQ(root.list("/flash/bin"), (std::vector<std::string>{"alpha", "left", "right"}));
  EXPECT_EQ(root.read("/flash/bin/alpha"), "z");
  for (const char* gone : {"beta", "gamma", "delta", "empty"}) {
    EXPECT_FALSE(root.exists(std::string("/flash/var/pdb/") + gone)) << gone;
  }
  EXPECT_FALSE(root.exists("/rw/pckg/.download/pair.qpk"));  // kept as the bundle's image
  EXPECT_TRUE(root.exists("/flash/var/pdb/pair/image"));
}

TEST(UpgradeRun, BundleUpgradeRemovesFilesItsMembersNoLongerHave) {
  // Members are loaded from their bundle's image; their file lists must still
  // be read, or the old files would stay on flash after the upgrade.
  ScratchRoot root;
  installFirst(root, {{"pair.qpk", buildBundle(bundle("pair", "1.0",
                                                      {spec("left", "1.0", {file("/bin/left", "l"), file("/etc/left.old", "o")})},
                                                      "image"))}});
  ASSERT_TRUE(root.exists("/flash/etc/left.old"));
  upload(root, "pair-2.qpk", buildBundle(bundle("pair", "2.0", {spec("left", "2.0", {file("/bin/left", "l2")})}, "image")));
  const RunResult run = root.run({});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(hasLine(run.outPlain, "installed pair-2.0")) << run.outPlain;
  EXPECT_EQ(root.read("/flash/bin/left"), "l2");
  EXPECT_FALSE(root.exists("/flash/etc/left.old"));
}

TEST(UpgradeRun, BadSignatureFailsTheWholeRun) {
  ScratchRoot root;
  qpk::SigningKeys foreign = keys();
  foreign.eddsaSeed[0] ^= 0x5A;
  foreign.hasLegacy = false;  // a zero legacy half, which never verifies
  upload(root, "alpha.qpk", alpha("1.0", "a"));
  upload(root, "beta.qpk", build(spec("beta", "1.0", {file("/bin/beta", "b")}), foreign));
  const RunResult run = root.run({});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(hasLine(run.outPlain, "ERROR: installation of beta-1.0 failed: broken package")) << run.outPlain;
  EXPECT_EQ(run.outPlain.find("installed "), std::string::npos) << run.outPlain;
  // Nothing reaches flash: no files, no entries, no marker; the log is all that is written.
  EXPECT_EQ(flashTree(root), (std::map<std::string, std::string>{}));
  EXPECT_TRUE(root.exists("/rw/pckg/.download/alpha.qpk"));
  EXPECT_TRUE(hasLine(root.read("/flash/postlog"), "ERROR: installation of beta-1.0 failed: broken package"));
}

// alpha 1.0 provides "feature"; alpha 1.1 no longer does.
void installProvider(ScratchRoot& root) {
  qpk::PackageSpec old = spec("alpha", "1.0", {file("/bin/alpha", "one")});
  old.provides.push_back(relation("feature"));
  installFirst(root, {{"alpha.qpk", build(old)}});
}

TEST(UpgradeRun, LostNameStopsARunFromFlashButNotADownload) {
  ScratchRoot root;
  installProvider(root);
  upload(root, "alpha.qpk", alpha("1.1", "two"), kFlashUpload);
  RunResult run = root.run({});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(hasLine(run.outPlain, "ERROR: missing package feature")) << run.outPlain;
  EXPECT_EQ(root.read("/flash/bin/alpha"), "one");
  EXPECT_FALSE(root.exists("/flash/PCKGS_CHANGED"));

  ScratchRoot download;
  installProvider(download);
  upload(download, "alpha.qpk", alpha("1.1", "two"));
  run = download.run({});
  EXPECT_TRUE(hasLine(run.outPlain, "installed alpha-1.1")) << run.outPlain;
  EXPECT_EQ(download.read("/flash/bin/alpha"), "two");
}

TEST(UpgradeRun, DisabledProviderIsEnabledWhenItsNameGoesMissing) {
  ScratchRoot root;
  qpk::PackageSpec alphaOld = spec("alpha", "1.0", {file("/bin/alpha", "one")});
  alphaOld.provides.push_back(relation("feature"));
  alphaOld.conflicts.push_back(relation("beta"));
  installFirst(root, {{"alpha.qpk", build(alphaOld)}});
  qpk::PackageSpec beta = spec("beta", "1.0", {file("/bin/beta", "b")});
  beta.provides.push_back(relation("feature"));
  installFirst(root, {{"beta.qpk", build(beta)}});
  ASSERT_TRUE(root.exists("/flash/var/pdb/beta/disabled")) << "beta should start disabled";

  upload(root, "alpha.qpk", alpha("1.1", "two"));
  const RunResult run = root.run({});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(hasLine(run.outPlain, "enabled beta-1.0")) << run.outPlain;
  EXPECT_TRUE(hasLine(run.outPlain, "installed alpha-1.1")) << run.outPlain;
  EXPECT_FALSE(root.exists("/flash/var/pdb/beta/disabled"));
}

TEST(UpgradeRun, BlobPackagesKeepTheirUploadAsStoredImageOrBootImage) {
  ScratchRoot root;
  qpk::PackageSpec gamma = spec("gamma", "1.0", {file("/bin/gamma", "g")});
  gamma.blob = std::string(5000, 'B');
  qpk::PackageSpec kernel = spec("kernel", "1.0", {file("/boot/kernel", "k")});
  kernel.flags = kFlagBootImage;
  kernel.blob = "boot blob";
  const std::string gammaFile = upload(root, "gamma.qpk", build(gamma));
  const std::string kernelFile = upload(root, "kernel.qpk", build(kernel));
  const RunResult run = root.run({}, {{"bootimage", "1"}});
  EXPECT_EQ(run.status, 0) << run.outPlain;
  EXPECT_TRUE(hasLine(run.outPlain, "installed gamma-1.0")) << run.outPlain;
  EXPECT_EQ(root.list("/rw/pckg/.download"), std::vector<std::string>{});
  EXPECT_EQ(root.read("/flash/var/pdb/gamma/image"), gammaFile);
  EXPECT_EQ(root.read("/flash/bootimage"), kernelFile);
  EXPECT_EQ(linkText(root, "/flash/var/pdb/kernel/image"), "/flash/bootimage");
}

TEST(UpgradeRun, SafeModeWritesTheManifestAndCommitsNothing) {
  ScratchRoot root;
  upload(root, "alpha.qpk", alpha("1.0", "a"));
  RunResult run = root.run({"--safe"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(hasLine(run.outPlain, "installed alpha-1.0"));
  EXPECT_FALSE(root.exists("/flash/bin/alpha"));
  EXPECT_FALSE(root.exists("/flash/PCKGS_CHANGED"));
  const std::string manifest = root.read("/ram/MANIFEST");
  EXPECT_NE(manifest.find("M /flash/PCKGS_CHANGED "), std::string::npos) << manifest;
  EXPECT_NE(manifest.find("M /flash/bin/alpha "), std::string::npos) << manifest;

  run = root.runChrooted({"--commit"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(root.read("/flash/bin/alpha"), "a");
  EXPECT_TRUE(root.exists("/flash/PCKGS_CHANGED"));
}

// A static program standing in for the platform's post-commit program; it
// runs inside the flash root and leaves its name and working directory there.
bool placePostCommitProgram(const ScratchRoot& root) {
  const std::string source = root.host("/ram/varn.c");
  FILE* out = std::fopen(source.c_str(), "w");
  if (out == nullptr) return false;
  std::fputs(
      "#include <stdio.h>\n#include <unistd.h>\n"
      "int main(int argc, char** argv) {\n"
      "  char cwd[256]; FILE* f = fopen(\"/varn-ran\", \"w\");\n"
      "  if (!f || !getcwd(cwd, sizeof cwd)) return 1;\n"
      "  fprintf(f, \"%s %d %s\\n\", argv[0], argc, cwd); return fclose(f);\n}\n",
      out);
  std::fclose(out);
  mkdir(root.host("/flash/bin").c_str(), 0755);
  const RunResult cc = runProgram({"/usr/bin/cc", "-static", "-o", root.host("/flash/bin/varn"), source}, {{"PATH", "/usr/bin:/bin"}}, "");
  return cc.status == 0;
}

TEST(UpgradeRun, PostCommitProgramRunsOnlyAfterACommittedUpgrade) {
  ScratchRoot root;
  ASSERT_TRUE(placePostCommitProgram(root));
  upload(root, "alpha.qpk", alpha("1.0", "a"));

  root.run({"--safe"});
  EXPECT_FALSE(root.exists("/flash/varn-ran"));

  root.remove("/ram/MANIFEST");
  root.run({});
  ASSERT_TRUE(root.exists("/flash/varn-ran"));
  EXPECT_EQ(root.read("/flash/varn-ran"), "varn 1 /\n");

  // Nothing left to do: no marker, no program, still the log.
  root.remove("/flash/varn-ran");
  root.remove("/flash/PCKGS_CHANGED");
  root.remove("/rw/pckg/.download/alpha.qpk");
  const std::string log = root.read("/flash/postlog");
  const RunResult idle = root.run({});
  EXPECT_EQ(idle.status, 0);
  EXPECT_FALSE(root.exists("/flash/varn-ran"));
  EXPECT_FALSE(root.exists("/flash/PCKGS_CHANGED"));
  EXPECT_FALSE(root.exists("/ram/MANIFEST"));
  // A run without messages and without a takeover leaves the log alone.
  EXPECT_EQ(root.read("/flash/postlog"), log);
}

TEST(UpgradeRun, EmptyDatabaseAndNoUploadsIsAFailedInstallation) {
  ScratchRoot root;
  const RunResult run = root.run({});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(hasLine(run.outPlain, "ERROR: router installation failed!!!")) << run.outPlain;
  EXPECT_FALSE(root.exists("/flash/PCKGS_CHANGED"));
  EXPECT_EQ(root.read("/flash/postlog"), "ERROR: router installation failed!!!\n");
}

}  // namespace
