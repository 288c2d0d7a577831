// installPackage in process, inside a chrooted child on a scratch root, for
// what the end-to-end runs cannot see: markers, the conversion request, the
// label of a tolerated reinstallation, refusals that print nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>
#include <string>

#include "console/messages.h"
#include "package/install_package.h"
#include "repo/repository.h"
#include "support/fixtures.h"

using namespace fixtures;

namespace {

// One package file read the way the stream installer reads it.
struct Installer {
  Installer() {
    Repository::instance().reset();
    Repository::instance().open("i386", false);
    setConsoleStream(&console);
  }
  ~Installer() { setConsoleStream(nullptr); }

  Package* install(const std::string& bytes, uint32_t tolerated, const ChoicesMap& choices = {},
                   const Relation* bundle = nullptr) {
    std::stringbuf source(bytes);
    PackageReader reader(&source, true, nullptr);
    for (int32_t type : {1, 18, 20, 16, 3, 19, 17, 21, 4, 9}) reader.accept(type);
    reader.nextPart();
    std::string directory;
    bool bootImage = false;
    console.str("");
    return installPackage(Repository::instance(), staged, reader, tolerated, choices, bundle, &directory, &bootImage);
  }
  bool staged_(const std::string& path) const { return staged.count(path) != 0; }

  StagedChanges staged;
  std::ostringstream console;
};

std::string hello() { return build(spec("hello", "1.0", {file("/bin/hello", "hi")})); }

TEST(InstallPackage, ToleratedEqualVersionIsCountedWithItsLabel) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    Installer installer;
    Package* first = installer.install(hello(), 0x01);
    ASSERT_NE(first, nullptr);
    const size_t stagedBefore = installer.staged.size();
    EXPECT_EQ(installer.install(hello(), 0x21, {{"hello", true}}), first);
    EXPECT_EQ(installer.staged.size(), stagedBefore);
    EXPECT_NE(installer.console.str().find("installed (disabled) hello-1.0\n"), std::string::npos);
    // Not tolerated: the check's warning, no line of its own, the same record.
    EXPECT_EQ(installer.install(hello(), 0x01), first);
    EXPECT_EQ(installer.console.str().find("installed hello"), std::string::npos) << installer.console.str();
    EXPECT_EQ(Repository::instance().packages.size(), 1u);
  }));
}

TEST(InstallPackage, SystemOfMajorSixAsksForConversionEvenWhenRefused) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    Installer installer;
    qpk::PackageSpec system = spec("system", "6.40", {file("/bin/sys", "s")});
    system.dependencies.push_back(relation("missing"));
    EXPECT_EQ(installer.install(build(system), 0x01), nullptr);
    EXPECT_TRUE(pathExists("/rw/CONVERT"));
    ::unlink("/rw/CONVERT");
    EXPECT_NE(installer.install(build(spec("system", "7.1", {file("/bin/sys", "s")})), 0x01), nullptr);
    EXPECT_FALSE(pathExists("/rw/CONVERT"));
  }));
}

TEST(InstallPackage, BrandingStagesBothMarkers) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    Installer installer;
    ASSERT_NE(installer.install(build(spec("branding", "1.0", {file("/etc/logo", "l")})), 0x01), nullptr);
    EXPECT_TRUE(installer.staged_("/flash/UPGRADED"));
    EXPECT_TRUE(installer.staged_("/flash/BRANDING_INSTALLED"));
    // An ordinary package stages neither.
    Installer plain;
    ASSERT_NE(plain.install(hello(), 0x01), nullptr);
    EXPECT_FALSE(plain.staged_("/flash/UPGRADED"));
  }));
}

TEST(InstallPackage, UnsignedOrMisnamedPackagesAreRefused) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    Installer installer;
    qpk::PackageSpec unsigned_ = spec("hello", "1.0", {file("/bin/hello", "hi")});
    unsigned_.signature = qpk::SignatureForm::None;
    EXPECT_EQ(installer.install(build(unsigned_), 0x01), nullptr);
    EXPECT_NE(installer.console.str().find("failed: broken package"), std::string::npos);
    // A member named like its bundle is refused silently.
    Relation bundle = relation("hello", "1.0");
    bundle.maxVersion = bundle.minVersion;
    EXPECT_EQ(installer.install(hello(), 0x01, {}, &bundle), nullptr);
    EXPECT_EQ(installer.console.str(), "");
    EXPECT_TRUE(Repository::instance().packages.empty());
  }));
}

}  // namespace
