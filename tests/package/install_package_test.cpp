// installPackage in process, inside a chrooted child on a scratch root: what
// it stages, prints and returns for one package.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "console/messages.h"
#include "package/install_package.h"
#include "repo/repository.h"
#include "support/scratch_root.h"
#include "upgrade/upload_packages.h"

using namespace uploads;

namespace {

// The signing keys are read from the source tree, which the chrooted
// children cannot see: load them once before any child is forked.
const bool kKeysLoaded = (keys(), true);

// One package file read the way the stream installer reads it.
class Installer {
 public:
  Installer() {
    Repository& repository = Repository::instance();
    repository.reset();
    repository.open("i386", false);
    setConsoleStream(&console);
  }
  ~Installer() { setConsoleStream(nullptr); }

  Package* install(const std::string& bytes, uint32_t tolerated, const ChoicesMap& choices = {},
                   const Relation* bundle = nullptr) {
    std::stringbuf source(bytes);
    PackageReader reader(&source, true, nullptr);
    for (int32_t type : {1, 18, 20, 16, 3, 19, 17, 21, 4, 9}) reader.accept(type);
    reader.nextPart();
    directory.clear();
    bootImage = false;
    return installPackage(Repository::instance(), staged, reader, tolerated, choices, bundle, &directory,
                          &bootImage);
  }

  bool staged_(const std::string& path) const { return staged.count(path) != 0; }
  std::string printed() const { return console.str(); }

  StagedChanges staged;
  std::string directory;
  bool bootImage = false;
  std::ostringstream console;
};

std::string helloFile(const char* versionText) {
  return build(spec("hello", versionText, {file("/bin/hello", "hi")}));
}

TEST(InstallPackage, InstallsStagesTheEntryAndHandsTheRecordToTheRepository) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    Installer installer;
    Package* record = installer.install(helloFile("1.0"), 0x01);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(Repository::instance().findInstalled("hello"), record);
    EXPECT_EQ(record->files, (FileSet{"/flash/bin/hello"}));
    EXPECT_TRUE(installer.staged_("/flash/bin/hello"));
    EXPECT_TRUE(installer.staged_("/flash/var/pdb/hello/version"));
    EXPECT_TRUE(installer.staged_("/flash/var/pdb/hello/files"));
    EXPECT_FALSE(installer.staged_("/flash/UPGRADED"));
    EXPECT_EQ(installer.directory, "");  // no blob: no image to keep
    EXPECT_FALSE(installer.bootImage);
  }));
}

TEST(InstallPackage, EqualVersionStagesNothingAndReturnsTheInstalledRecord) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    Installer installer;
    Package* first = installer.install(helloFile("1.0"), 0x01);
    ASSERT_NE(first, nullptr);

    StagedChanges before = installer.staged;
    installer.console.str("");
    EXPECT_EQ(installer.install(helloFile("1.0"), 0x21), first);
    EXPECT_EQ(installer.staged.size(), before.size());
    EXPECT_NE(installer.printed().find("installed hello-1.0\n"), std::string::npos) << installer.printed();
    EXPECT_EQ(installer.printed().find("(disabled)"), std::string::npos);

    installer.console.str("");
    EXPECT_EQ(installer.install(helloFile("1.0"), 0x21, {{"hello", true}}), first);
    EXPECT_NE(installer.printed().find("installed (disabled) hello-1.0\n"), std::string::npos);

    // Not tolerated: the check's warning, no line of its own, same record.
    installer.console.str("");
    EXPECT_EQ(installer.install(helloFile("1.0"), 0x01), first);
    EXPECT_EQ(installer.printed().find("installed hello"), std::string::npos) << installer.printed();
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
    struct stat st;
    EXPECT_EQ(::stat("/rw/CONVERT", &st), 0);
    ::unlink("/rw/CONVERT");
    EXPECT_NE(installer.install(build(spec("system", "7.1", {file("/bin/sys", "s")})), 0x01), nullptr);
    EXPECT_NE(::stat("/rw/CONVERT", &st), 0);
  }));
}

TEST(InstallPackage, BootImageSkipsThePayloadOnlyWithTheVariable) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    qpk::PackageSpec kernel = spec("kernel", "1.0", {file("/boot/kernel", "k")});
    kernel.flags = 1;
    kernel.blob = std::string(9000, 'z');
    {
      Installer installer;
      ASSERT_NE(installer.install(build(kernel), 0x01), nullptr);
      EXPECT_TRUE(installer.staged_("/flash/boot/kernel"));
      EXPECT_TRUE(installer.staged_("/flash/UPGRADED"));
      EXPECT_FALSE(installer.bootImage);
      EXPECT_EQ(installer.directory, "/flash/var/pdb/kernel/");
      // A blob package's entry is its image and its state files.
      EXPECT_FALSE(installer.staged_("/flash/var/pdb/kernel/version"));
    }
    ::setenv("bootimage", "", 1);
    Installer installer;
    ASSERT_NE(installer.install(build(kernel), 0x01), nullptr);
    EXPECT_FALSE(installer.staged_("/flash/boot/kernel"));
    EXPECT_TRUE(installer.staged_("/flash/UPGRADED"));
    EXPECT_TRUE(installer.bootImage);
  }));
}

TEST(InstallPackage, BrandingStagesBothMarkers) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    Installer installer;
    ASSERT_NE(installer.install(build(spec("branding", "1.0", {file("/etc/logo", "l")})), 0x01), nullptr);
    EXPECT_TRUE(installer.staged_("/flash/UPGRADED"));
    EXPECT_TRUE(installer.staged_("/flash/BRANDING_INSTALLED"));
  }));
}

TEST(InstallPackage, UnrecordedPackageWritesNoEntryAndReplacesNothing) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    Installer installer;
    Package* first = installer.install(helloFile("1.0"), 0x01);
    ASSERT_NE(first, nullptr);
    installer.staged.clear();
    qpk::PackageSpec extra = spec("hello", "2.0", {file("/bin/extra", "e")});
    extra.magic = UnrecordedMagic;
    Package* second = installer.install(build(extra), 0x01);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(Repository::instance().packages.size(), 2u);
    EXPECT_EQ(Repository::instance().findInstalled("hello"), first);
    EXPECT_TRUE(installer.staged_("/flash/bin/extra"));
    for (const auto& [path, change] : installer.staged) {
      EXPECT_EQ(path.rfind("/flash/var/pdb/", 0), std::string::npos) << path;
    }
  }));
}

TEST(InstallPackage, PartAfterTheSignatureIsBrokenButTheStagedFilesStay) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    Installer installer;
    qpk::PartWriter writer;
    writer.raw(helloFile("1.0").substr(8));
    writer.part(PartConflicts, qpk::encodeRelations({relation("x")}));
    EXPECT_EQ(installer.install(writer.finish(), 0x01), nullptr);
    EXPECT_NE(installer.printed().find("ERROR: installation of hello-1.0 failed: broken package"),
              std::string::npos)
        << installer.printed();
    EXPECT_TRUE(installer.staged_("/flash/bin/hello"));
    EXPECT_TRUE(Repository::instance().packages.empty());
  }));
}

TEST(InstallPackage, MissingSignatureIsBroken) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    Installer installer;
    qpk::PackageSpec unsigned_ = spec("hello", "1.0", {file("/bin/hello", "hi")});
    unsigned_.signature = qpk::SignatureForm::None;
    EXPECT_EQ(installer.install(build(unsigned_), 0x01), nullptr);
    EXPECT_NE(installer.printed().find("failed: broken package"), std::string::npos);
  }));
}

TEST(InstallPackage, MemberNamedLikeItsBundleIsRefusedSilently) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    Installer installer;
    Relation bundle = relation("hello", "1.0");
    bundle.maxVersion = bundle.minVersion;
    EXPECT_EQ(installer.install(helloFile("1.0"), 0x01, {}, &bundle), nullptr);
    EXPECT_EQ(installer.printed(), "");
    EXPECT_TRUE(installer.staged.empty());
  }));
}

}  // namespace
