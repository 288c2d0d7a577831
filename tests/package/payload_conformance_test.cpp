// Stored paths of regular files that name a directory rather than a file.
#include <gtest/gtest.h>

#include "support/fixtures.h"

using namespace fixtures;

// Recorded as an installed file, a directory path would make a later
// uninstallation empty that directory of every other package's files.
TEST(PayloadConformance, AFilePathNamingADirectoryMakesThePackageBroken) {
  for (const std::string& path : {std::string("/bin/"), std::string("/bin/."), std::string(""), std::string("/")}) {
    ScratchRoot root;
    RunResult tools = root.run({"-"}, {}, build(spec("tools", "1.0", {file("/bin/tool", "tool")})));
    ASSERT_EQ(tools.status, 0) << tools.out << tools.err;

    RunResult evil = root.run({"-"}, {}, build(spec("evil", "1.0", {file(path, "x")})));
    EXPECT_EQ(evil.status, 1) << path;
    EXPECT_TRUE(hasLine(evil.outPlain, "ERROR: installation of evil-1.0 failed: broken package"))
        << path << "\n" << evil.out << evil.err;
    EXPECT_FALSE(root.exists("/flash/var/pdb/evil")) << path;

    // Whatever happened, uninstalling "evil" must not take "tools"' file.
    root.write("/ram/pdb/evil/schedule", "uninstall\n");
    root.run({});
    EXPECT_EQ(root.read("/flash/bin/tool"), "tool") << path;
  }
}
