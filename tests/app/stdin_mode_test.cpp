// "installer -" end to end: a package or bundle piped in, installed on a
// scratch root, the whole of flash checked byte for byte.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/fixtures.h"

using namespace fixtures;

namespace {

using Tree = std::map<std::string, std::string>;

RunResult pipeIn(const ScratchRoot& root, const std::string& bytes, std::vector<std::string> before = {},
                 const std::map<std::string, std::string>& env = {}) {
  before.push_back("-");
  return root.run(before, env, bytes);
}

qpk::PackageSpec hello(const char* versionText, std::vector<qpk::FileEntry> files) {
  return spec("hello", versionText, std::move(files));
}

qpk::BundleSpec bun(const char* versionText, std::vector<qpk::PackageSpec> members) {
  return bundle("bun", versionText, std::move(members));
}

// A recorded entry's small files (a bundle has no "files"), with what else
// is expected on flash.
Tree entry(const std::string& name, const char* versionText, const char* files, Tree also = {}) {
  const std::string dir = "/flash/var/pdb/" + name + "/";
  also.insert({{dir + "version", versionLine(versionText)}, {dir + "deps", ""}});
  if (files != nullptr) also[dir + "files"] = files;
  return also;
}

Tree operator+(Tree a, const Tree& b) {
  a.insert(b.begin(), b.end());
  return a;
}

// Installs bytes through one run and drops the marker, so later runs can be
// checked for it.
void installFirst(ScratchRoot& root, const std::string& bytes) {
  const RunResult run = pipeIn(root, bytes);
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  root.remove("/flash/PCKGS_CHANGED");
}

TEST(StdinMode, FreshInstallAndUpgrade) {
  ScratchRoot root;
  RunResult run = pipeIn(root, build(hello("1.0", {file("/bin/hello", "#!/bin/sh\n"), file("etc/old", std::string("a\0b", 3))})));
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  // Without a blob there is no entry to keep the stream's copy in: it is gone.
  EXPECT_EQ(flashTree(root), entry("hello", "1.0", "flash/bin/hello\nflash/etc/old\n",
                                   {{"/flash/bin/hello", "#!/bin/sh\n"},
                                    {"/flash/etc/old", std::string("a\0b", 3)},
                                    {"/flash/PCKGS_CHANGED", ""}}));
  EXPECT_FALSE(root.exists("/image"));
  root.remove("/flash/PCKGS_CHANGED");
  // The upgrade removes what the old version had.
  run = pipeIn(root, build(hello("1.1", {file("/bin/hello", "two"), file("/etc/new", std::string("y\0", 2))})));
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(flashTree(root), entry("hello", "1.1", "flash/bin/hello\nflash/etc/new\n",
                                   {{"/flash/bin/hello", "two"},
                                    {"/flash/etc/new", std::string("y\0", 2)},
                                    {"/flash/PCKGS_CHANGED", ""}}));
}

TEST(StdinMode, EqualVersionIsRefusedOrCountedWhenReinstalling) {
  ScratchRoot root;
  const std::string package = build(hello("1.0", {file("/bin/hello", "one")}));
  installFirst(root, package);
  root.write("/flash/bin/hello", "changed since");
  RunResult run = pipeIn(root, package);
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(hasLine(run.outPlain, "WARNING: omitting package hello-1.0: it is already installed")) << run.out;
  EXPECT_FALSE(hasLine(run.outPlain, "installed hello-1.0")) << run.out;
  run = pipeIn(root, package, {"--reinstall"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.rfind("\nResuming upgrade...\n", 0), 0u) << run.out;
  EXPECT_TRUE(hasLine(run.outPlain, "installed hello-1.0")) << run.out;
  EXPECT_EQ(run.outPlain.find("WARNING"), std::string::npos) << run.out;
  // The bar is blanked with 78 spaces before the line; nothing is unpacked.
  EXPECT_NE(run.out.find(std::string(78, ' ')), std::string::npos);
  EXPECT_EQ(root.read("/flash/bin/hello"), "changed since");
  EXPECT_TRUE(hasLine(root.read("/flash/postlog"), "installed hello-1.0"));
}

TEST(StdinMode, ConflictingPackageGoesInDisabled) {
  ScratchRoot root;
  qpk::PackageSpec first = spec("first", "1.0", {file("/bin/first", "1")});
  first.conflicts.push_back(relation("second"));
  installFirst(root, build(first));
  Tree expected = flashTree(root);
  const RunResult run = pipeIn(root, build(spec("second", "1.0", {file("/bin/second", "2")})));
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.outPlain.find("conflicts"), std::string::npos) << run.out;
  EXPECT_EQ(flashTree(root), expected + entry("second", "1.0", "flash/x/second/bin/second\n",
                                              {{"/flash/x/second/bin/second", "2"},
                                               {"/flash/var/pdb/second/disabled", "auto\n"},
                                               {"/flash/PCKGS_CHANGED", ""}}));
}

TEST(StdinMode, UnrecordedPackageKeepsTheInstalledEntryAndItsImage) {
  ScratchRoot root;
  qpk::PackageSpec recorded = hello("1.0", {file("/bin/hello", "one")});
  recorded.blob = "first";
  const std::string image = build(recorded);
  installFirst(root, image);  // a blob package keeps the stream as its image
  EXPECT_EQ(flashTree(root), (Tree{{"/flash/bin/hello", "one"}, {"/flash/var/pdb/hello/image", image}}));
  qpk::PackageSpec extra = hello("2.0", {file("/bin/extra", "more")});
  extra.magic = UnrecordedMagic;
  extra.blob = "second";
  const RunResult run = pipeIn(root, build(extra));
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(flashTree(root), (Tree{{"/flash/bin/hello", "one"}, {"/flash/bin/extra", "more"},
                                   {"/flash/var/pdb/hello/image", image}, {"/flash/PCKGS_CHANGED", ""}}));
}

TEST(StdinMode, BootImagePackageBecomesTheBootImageOnlyWithTheVariable) {
  qpk::PackageSpec boot = spec("kernel", "1.0", {file("/boot/kernel", "vmlinux")});
  boot.flags = 1;
  boot.blob = std::string(10000, 'b');
  const std::string bytes = build(boot);
  for (bool variable : {false, true}) {
    ScratchRoot root;
    std::map<std::string, std::string> env;
    if (variable) env["bootimage"] = "1";
    const RunResult run = pipeIn(root, bytes, {}, env);
    EXPECT_EQ(run.status, 0) << run.out;
    // With a blob the entry is the stored image plus its state files.
    Tree expected = {{"/flash/UPGRADED", ""}, {"/flash/PCKGS_CHANGED", ""}};
    if (variable) {
      expected.insert({{"/flash/bootimage", bytes}, {"/flash/var/pdb/kernel/image", "-> /flash/bootimage"}});
    } else {
      expected.insert({{"/flash/boot/kernel", "vmlinux"}, {"/flash/var/pdb/kernel/image", bytes}});
    }
    EXPECT_EQ(flashTree(root), expected) << variable;
  }
}

TEST(StdinMode, BundleWithAMemberListAndANewVersionDroppingAMember) {
  ScratchRoot root;
  qpk::BundleSpec b = bun("1.0", {spec("alpha", "1.0", {file("/bin/alpha", "a")}),
                                  spec("beta", "1.0", {file("/bin/beta", "b")})});
  b.memberList = std::vector<Relation>{relation("beta")};  // listed members come out disabled
  const std::string first = buildBundle(b);
  RunResult run = pipeIn(root, first);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  // The bundle keeps the stream as its stored image, its members their files.
  EXPECT_EQ(flashTree(root),
            entry("alpha", "1.0", "flash/bin/alpha\n", {{"/flash/bin/alpha", "a"}, {"/flash/var/pdb/alpha/bundle", "bun\n"}}) +
                entry("beta", "1.0", "flash/x/beta/bin/beta\n",
                      {{"/flash/x/beta/bin/beta", "b"}, {"/flash/var/pdb/beta/bundle", "bun\n"},
                       {"/flash/var/pdb/beta/disabled", "auto\n"}}) +
                Tree({{"/flash/var/pdb/bun/image", first}, {"/flash/PCKGS_CHANGED", ""}}));
  const std::string second = buildBundle(bun("1.1", {spec("alpha", "1.1", {file("/bin/alpha", "a2")})}));
  run = pipeIn(root, second);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.outPlain.find("beta"), std::string::npos) << run.out;
  EXPECT_EQ(flashTree(root),
            entry("alpha", "1.1", "flash/bin/alpha\n", {{"/flash/bin/alpha", "a2"}, {"/flash/var/pdb/alpha/bundle", "bun\n"}}) +
                Tree({{"/flash/var/pdb/bun/image", second}, {"/flash/PCKGS_CHANGED", ""}}));
}

TEST(StdinMode, FailuresBecomeExitStatuses) {
  ScratchRoot root;
  // 1: a single package that cannot go in.
  qpk::PackageSpec needy = spec("needy", "1.0", {file("/bin/needy", "n")});
  needy.dependencies.push_back(relation("missing"));
  RunResult run = pipeIn(root, build(needy));
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(hasLine(run.outPlain, "ERROR: can not install needy-1.0: missing is not installed, but is required"))
      << run.out;

  // 3: a bundle without members (its entry is not kept: the run failed).
  run = pipeIn(root, buildBundle(bun("1.0", {})));
  EXPECT_EQ(run.status, 3);
  EXPECT_FALSE(root.exists("/flash/var/pdb/bun"));

  // 2: the same bundle again, already installed.
  const std::string full = buildBundle(bun("1.0", {spec("alpha", "1.0", {file("/bin/alpha", "a")})}));
  installFirst(root, full);
  run = pipeIn(root, full);
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(hasLine(run.outPlain, "WARNING: omitting package bun-1.0: it is already installed")) << run.out;
  EXPECT_FALSE(root.exists("/flash/PCKGS_CHANGED"));

  EXPECT_EQ(root.read("/flash/bin/alpha"), "a");
  EXPECT_FALSE(root.exists("/flash/var/pdb/image"));
}

qpk::SigningKeys wrongKeys() {
  qpk::SigningKeys k = keys();
  k.eddsaSeed[0] ^= 1;
  k.hasLegacy = false;
  return k;
}

TEST(StdinMode, BadSignatureChangesNothingOnFlash) {
  ScratchRoot root;
  installFirst(root, build(hello("7.2", {file("/bin/hello", "one"), file("/etc/old", "x")})));
  root.write("/ram/pdb/hello/schedule", "disable\n");
  const auto before = flashTree(root);

  qpk::PackageSpec forged = hello("7.3", {file("/bin/hello", "evil"), file("/bin/new", "n")});
  forged.blob = "opaque";
  const RunResult run = pipeIn(root, build(forged, wrongKeys()));
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(hasLine(run.outPlain, "ERROR: installation of hello-7.3 failed: broken package")) << run.out;
  EXPECT_EQ(flashTree(root), before);
  EXPECT_TRUE(hasLine(root.read("/flash/postlog"), "ERROR: installation of hello-7.3 failed: broken package"));
  // The scheduled disabling waits for a run that succeeds.
  EXPECT_EQ(root.read("/ram/pdb/hello/schedule"), "disable\n");
}

TEST(StdinMode, OnlyAnArchitectureAndAnEmptyDependencyPartMayFollowTheSignature) {
  const std::string signedFile = build(hello("1.0", {file("/bin/hello", "one")}));
  struct Case {
    std::vector<std::pair<uint16_t, std::string>> trailer;
    int status;
  };
  const Case cases[] = {
      {{{16, "i386"}, {3, ""}}, 0},
      {{{3, ""}}, 0},
      {{{3, qpk::encodeRelations({relation("x")})}}, 1},
      {{{3, ""}, {16, "i386"}}, 1},
      {{{19, qpk::encodeRelations({relation("x")})}}, 1},
  };
  for (const Case& c : cases) {
    ScratchRoot root;
    qpk::PartWriter writer;
    writer.raw(signedFile.substr(8));
    for (const auto& [type, data] : c.trailer) writer.part(type, data);
    const RunResult run = pipeIn(root, writer.finish());
    EXPECT_EQ(run.status, c.status) << run.out;
    EXPECT_EQ(root.exists("/flash/bin/hello"), c.status == 0);
    if (c.status != 0) {
      EXPECT_TRUE(hasLine(run.outPlain, "ERROR: installation of hello-1.0 failed: broken package")) << run.out;
      EXPECT_EQ(flashTree(root), Tree{});
    }
  }
}

TEST(StdinMode, BlockersOfAMemberListNeverReachTheDatabase) {
  ScratchRoot root;
  // beta is not listed and needs the listed alpha, so the engine enables
  // alpha against its blocker while the members go in; nothing may be
  // written for the nameless blocker.
  qpk::PackageSpec beta = spec("beta", "1.0", {file("/bin/beta", "b")});
  beta.dependencies.push_back(relation("alpha"));
  qpk::BundleSpec b = bun("1.0", {spec("alpha", "1.0", {file("/bin/alpha", "a")}), beta});
  b.memberList = std::vector<Relation>{relation("alpha")};
  const RunResult run = pipeIn(root, buildBundle(b));
  EXPECT_EQ(run.status, 0) << run.out;
  for (const std::string& entry : root.list("/flash/var/pdb")) {
    const size_t slash = entry.find('/');
    if (slash == std::string::npos) continue;  // loose files: checked by name below
    const std::string owner = entry.substr(0, slash);
    EXPECT_TRUE(owner == "alpha" || owner == "beta" || owner == "bun") << entry;
  }
  for (const char* ghost : {"disabled", "enabled", "image", "files", "version"}) {
    EXPECT_FALSE(root.exists(std::string("/flash/var/pdb/") + ghost)) << ghost;
  }
  EXPECT_FALSE(root.exists("/flash/var/pdb/alpha/disabled"));
  EXPECT_FALSE(root.exists("/flash/var/pdb/beta/disabled"));
}

TEST(StdinMode, AFailedInstallationLeavesNoImageCopyBehind) {
  ScratchRoot root;
  qpk::PackageSpec withBlob = hello("1.0", {file("/bin/hello", "one")});
  withBlob.blob = "opaque";
  withBlob.dependencies.push_back(relation("missing"));
  const RunResult run = pipeIn(root, build(withBlob));
  EXPECT_EQ(run.status, 1);
  EXPECT_FALSE(root.exists("/flash/var/pdb/image"));
  EXPECT_FALSE(root.exists("/flash/var/pdb/hello"));
  // The next run sees no package called "image".
  const RunResult show = root.run({"--show"});
  EXPECT_EQ(show.outPlain.find("image"), std::string::npos) << show.out;
}

TEST(StdinMode, ImageCopyThatCannotBeOpenedEndsTheRunWith255) {
  ScratchRoot root;
  root.remove("/flash/var/pdb");
  const RunResult run = pipeIn(root, build(hello("1.0", {file("/bin/hello", "one")})));
  EXPECT_EQ(run.status, 255);
  EXPECT_TRUE(hasLine(run.outPlain, "ERROR: could not open image")) << run.out;
  EXPECT_FALSE(root.exists("/flash/postlog"));
  EXPECT_FALSE(root.exists("/flash/bin/hello"));
  EXPECT_FALSE(root.exists("/flash/PCKGS_CHANGED"));
}

}  // namespace

TEST(StdinMode, APipeThatIsNoPackageGetsOneLine) {
  ScratchRoot root;
  for (const std::string& bytes : {std::string(), std::string("not a package at all"),
                                   build(hello("1.0", {file("/bin/hello", "h")})).substr(0, 20)}) {
    const RunResult run = pipeIn(root, bytes);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(hasLine(run.outPlain, "ERROR: installation of standard input failed: broken package")) << run.out;
  }
  EXPECT_EQ(flashTree(root), Tree());
}

TEST(StdinMode, AnImageCopyCutByAFullFlashIsNeverKept) {
  // The copy of a blob package becomes its stored image; on a flash that
  // fills up while it is written, a cut copy must not take that place.
  ScratchRoot root;
  qpk::PackageSpec big = hello("1.0", {file("/bin/hello", "h")});
  big.blob = std::string(200 * 1024, 'b');
  const std::string bytes = build(big);
  EXPECT_TRUE(runIsolated(
      [&] {
        root.write("/flash/var/pdb/.keep", "");
        const RunResult run = pipeIn(root, bytes);
        EXPECT_EQ(run.status, 255) << run.out << run.err;
        EXPECT_TRUE(hasLine(run.outPlain,
                            "ERROR: installation failed: could not write /flash/var/pdb/image: No space left on device"))
            << run.out;
        EXPECT_FALSE(root.exists("/flash/var/pdb/hello"));
        EXPECT_FALSE(root.exists("/flash/var/pdb/image"));
        EXPECT_FALSE(root.exists("/flash/bin/hello"));
        // Files that fit the RAM disk but not flash: the disk-space check.
        const RunResult large = pipeIn(root, build(hello("1.0", {file("/bin/hello", std::string(100 * 1024, 'h'))})));
        EXPECT_EQ(large.status, 28);
        EXPECT_EQ(large.outPlain.rfind("ERROR: upgrade failed, free ", 0), 0u) << large.outPlain;
        EXPECT_EQ(large.outPlain.find('\n'), large.outPlain.size() - 1) << large.outPlain;
        EXPECT_EQ(flashTree(root), (Tree{{"/flash/var/pdb/.keep", ""}}));
        EXPECT_EQ(root.list("/ram"), std::vector<std::string>{});
      },
      {{root.host("/flash"), "64k"}}));
}
