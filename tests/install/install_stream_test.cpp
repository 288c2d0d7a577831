// installFromStream in process, inside a chrooted child on a scratch root:
// bundles, their member lists and choices, and the result codes; what a run
// through the binary shows of them is in app/stdin_mode_test.cpp.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "console/messages.h"
#include "install/install_stream.h"
#include "repo/repository.h"
#include "support/fixtures.h"

using namespace fixtures;

namespace {

struct StreamRun {
  StreamRun() {
    Repository& repository = Repository::instance();
    repository.reset();
    repository.open("i386", false);
    setConsoleStream(&console);
  }
  ~StreamRun() { setConsoleStream(nullptr); }

  int install(const std::string& bytes, uint32_t tolerated = 0x01, const ChoicesMap& choices = {}) {
    std::stringbuf source(bytes);
    bootImage = false;
    return installFromStream(Repository::instance(), staged, &source, tolerated, choices, nullptr, nullptr,
                             &bootImage);
  }

  StagedChanges staged;
  bool bootImage = false;
  std::ostringstream console;
};

qpk::BundleSpec bun(const char* versionText, std::vector<qpk::PackageSpec> members) {
  return bundle("bun", versionText, std::move(members));
}

qpk::PackageSpec member(const std::string& name, const char* versionText = "1.0") {
  return spec(name, versionText, {file("/bin/" + name, name)});
}

bool noNamelessRecords() {
  for (const auto& p : Repository::instance().packages) {
    if (p->name.empty()) return false;
  }
  return true;
}

TEST(InstallStream, ChoicesDecideListedMembersAndTheRestComeOutDisabled) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    StreamRun run;
    qpk::BundleSpec b = bun("1.0", {member("a"), member("b"), member("c"), member("d")});
    b.memberList = std::vector<Relation>{relation("a"), relation("b"), relation("c")};
    ASSERT_EQ(run.install(buildBundle(b), 0x01, {{"b", false}, {"c", true}}), 0);
    Repository& repository = Repository::instance();
    struct Expect {
      const char* name;
      bool disabled, byUser;
    };
    for (const Expect& e : {Expect{"a", true, false}, Expect{"b", false, true}, Expect{"c", true, true},
                            Expect{"d", false, false}}) {
      Package* p = repository.findInstalled(e.name);
      ASSERT_NE(p, nullptr) << e.name;
      EXPECT_EQ(p->disabled, e.disabled) << e.name;
      EXPECT_EQ(p->byUser, e.byUser) << e.name;
      EXPECT_EQ(p->bundle.name, "bun");
    }
    EXPECT_TRUE(run.staged.count("/flash/x/a/bin/a"));
    EXPECT_TRUE(run.staged.count("/flash/bin/b"));
    EXPECT_TRUE(run.staged.count("/flash/var/pdb/b/enabled"));
    EXPECT_TRUE(run.staged.count("/flash/var/pdb/c/disabled"));
    EXPECT_NE(repository.findInstalled("bun"), nullptr);
    EXPECT_TRUE(noNamelessRecords());
    for (const auto& [path, change] : run.staged) {
      EXPECT_NE(path.rfind("/flash/var/pdb//", 0), 0u) << path;
      EXPECT_NE(path, "/flash/var/pdb/disabled");
    }
  }));
}

TEST(InstallStream, RefusedMemberIsPassedOverAndTheNextOneInstalled) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    StreamRun run;
    ASSERT_EQ(run.install(build(member("a", "2.0"))), 0);
    Package* newer = Repository::instance().findInstalled("a");
    ASSERT_EQ(run.install(buildBundle(bun("1.0", {member("a", "1.0"), member("b")}))), 0);
    EXPECT_EQ(Repository::instance().findInstalled("a"), newer);
    EXPECT_EQ(newer->version, version("2.0"));
    EXPECT_NE(Repository::instance().findInstalled("b"), nullptr);
    // Members print nothing of the check.
    EXPECT_EQ(run.console.str().find("omitting"), std::string::npos) << run.console.str();
  }));
}

// The codes for odd bundle files (3 for a bundle without members and 2
// for an installed bundle are checked end to end through the binary).
TEST(InstallStream, ResultCodes) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    {
      // A bundle header with relations is unusable.
      StreamRun run;
      qpk::PartWriter writer;
      writer.part(PartBundleHeader, qpk::encodeHeader("bun", version("1.0"), 1000, 0, true));
      writer.part(PartDependencies, qpk::encodeRelations({relation("x")}));
      EXPECT_EQ(run.install(writer.finish()), 1);
      EXPECT_TRUE(run.staged.empty());
    }
    {
      // A member followed by a part that no signature covers: 2, before
      // anything goes in; the blockers of the member list are gone too.
      StreamRun run;
      qpk::BundleSpec b = bun("1.0", {member("a")});
      b.memberList = std::vector<Relation>{relation("a"), relation("z")};
      qpk::PartWriter writer;
      writer.raw(buildBundle(b).substr(8));
      writer.part(PartProvides, qpk::encodeRelations({relation("x")}));
      EXPECT_EQ(run.install(writer.finish()), 2);
      EXPECT_EQ(Repository::instance().findInstalled("a"), nullptr);
      EXPECT_TRUE(run.staged.empty());
      EXPECT_TRUE(noNamelessRecords());
    }
    {
      // An architecture part may close the bundle.
      StreamRun run;
      qpk::PartWriter writer;
      writer.raw(buildBundle(bun("1.0", {member("a")})).substr(8));
      writer.part(PartArchitecture, "i386");
      EXPECT_EQ(run.install(writer.finish()), 0);
    }
    {
      // A member list cut short leaves no blocker behind.
      StreamRun run;
      qpk::PartWriter writer;
      writer.part(PartBundleHeader, qpk::encodeHeader("bun", version("1.0"), 1000, 0, true));
      writer.part(PartBlob, "b");
      writer.part(PartBundleMembers, qpk::encodeRelations({relation("a"), relation("b")}).substr(0, 40));
      EXPECT_EQ(run.install(writer.finish()), 2);
      EXPECT_TRUE(noNamelessRecords());
    }
  }));
}

TEST(InstallStream, BootImageOfAnyMemberIsReported) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    ::setenv("bootimage", "1", 1);
    StreamRun run;
    qpk::PackageSpec kernel = member("kernel");
    kernel.flags = 1;
    ASSERT_EQ(run.install(buildBundle(bun("1.0", {kernel, member("b")}))), 0);
    EXPECT_TRUE(run.bootImage);
    EXPECT_FALSE(run.staged.count("/flash/bin/kernel"));
    ASSERT_EQ(run.install(buildBundle(bun("1.1", {member("b", "1.1")}))), 0);
    EXPECT_FALSE(run.bootImage);
  }));
}

}  // namespace

// One package through the stream, for what a run through the binary cannot
// see: markers, the conversion request, the label of a tolerated
// reinstallation chosen disabled.
namespace {

TEST(InstallStream, SinglePackagesMarkersAndRefusals) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    StreamRun run;
    const std::string hello = build(member("hello"));
    ASSERT_EQ(run.install(hello), 0);
    EXPECT_FALSE(run.staged.count("/flash/UPGRADED"));
    const size_t stagedBefore = run.staged.size();
    // Equal version tolerated and chosen disabled: counted with its label, nothing staged.
    EXPECT_EQ(run.install(hello, 0x21, {{"hello", true}}), 0);
    EXPECT_EQ(run.staged.size(), stagedBefore);
    EXPECT_NE(run.console.str().find("installed (disabled) hello-1.0\n"), std::string::npos) << run.console.str();
    // Branding stages both markers.
    ASSERT_EQ(run.install(build(member("branding"))), 0);
    EXPECT_TRUE(run.staged.count("/flash/UPGRADED") && run.staged.count("/flash/BRANDING_INSTALLED"));
    // A system of major 6 asks for conversion even when refused.
    qpk::PackageSpec system = member("system", "6.40");
    system.dependencies.push_back(relation("missing"));
    EXPECT_EQ(run.install(build(system)), 1);
    EXPECT_TRUE(pathExists("/rw/CONVERT"));
    ::unlink("/rw/CONVERT");
    EXPECT_EQ(run.install(build(member("system", "7.1"))), 0);
    EXPECT_FALSE(pathExists("/rw/CONVERT"));
    // An unsigned package is broken.
    qpk::PackageSpec unsigned_ = member("other");
    unsigned_.signature = qpk::SignatureForm::None;
    run.console.str("");
    EXPECT_EQ(run.install(build(unsigned_)), 1);
    EXPECT_NE(run.console.str().find("ERROR: installation of other-1.0 failed: broken package"), std::string::npos);
  }));
}

}  // namespace
