// installPackage in process for a bundle member named like its bundle; the
// rest of what one package does is checked through the stream in
// install_stream_test.cpp and end to end in app/stdin_mode_test.cpp.
#include <gtest/gtest.h>

#include <sstream>

#include "console/messages.h"
#include "install/install_package.h"
#include "repo/repository.h"
#include "support/fixtures.h"

using namespace fixtures;

namespace {

TEST(InstallPackage, MemberNamedLikeItsBundleIsRefusedSilently) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    Repository::instance().reset();
    Repository::instance().open("i386", false);
    std::ostringstream console;
    setConsoleStream(&console);
    const std::string bytes = build(spec("hello", "1.0", {file("/bin/hello", "hi")}));
    std::stringbuf source(bytes);
    PackageReader reader(&source, true, nullptr);
    for (int32_t type : {1, 18, 20, 16, 3, 19, 17, 21, 4, 9}) reader.accept(type);
    reader.nextPart();
    Relation bundle = relation("hello", "1.0");
    bundle.maxVersion = bundle.minVersion;
    StagedChanges staged;
    std::string directory;
    bool bootImage = false;
    EXPECT_EQ(installPackage(Repository::instance(), staged, reader, 0x01, {}, &bundle, &directory, &bootImage),
              nullptr);
    EXPECT_EQ(console.str(), "");
    EXPECT_TRUE(staged.empty());
    EXPECT_TRUE(Repository::instance().packages.empty());
    setConsoleStream(nullptr);
  }));
}

}  // namespace
