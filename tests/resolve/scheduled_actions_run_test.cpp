// Scheduled requests settled by a real run of the installer on a scratch
// root: what the run prints and what it leaves in the database.
#include <gtest/gtest.h>

#include "support/fixtures.h"

namespace {

using fixtures::installEntry;

TEST(ScheduledActionsRun, SettlesRequestsAndCommitsThem) {
  ScratchRoot root;
  installEntry(root, "lib");
  installEntry(root, "app", "lib 0 0\n");
  installEntry(root, "tool");
  installEntry(root, "extra");
  installEntry(root, "sleeper", "", "disabled");
  root.write("/ram/pdb/lib/schedule", "uninstall\n");    // app needs it: refused
  root.write("/ram/pdb/tool/schedule", "disable\n");
  root.write("/ram/pdb/extra/schedule", "uninstall\n");
  root.write("/ram/pdb/sleeper/schedule", "enable\n");

  RunResult result = root.run({});
  EXPECT_EQ(0, result.status) << result.out << result.err;
  EXPECT_NE(std::string::npos, result.outPlain.find("WARNING: can not uninstall lib-1.0: app depends on it\n"))
      << result.outPlain;
  EXPECT_NE(std::string::npos, result.outPlain.find("disabled tool-1.0\n")) << result.outPlain;
  EXPECT_NE(std::string::npos, result.outPlain.find("enabled sleeper-1.0\n")) << result.outPlain;
  EXPECT_EQ(std::string::npos, result.outPlain.find("extra")) << result.outPlain;  // uninstalling is silent

  EXPECT_TRUE(root.exists("/flash/bin/lib"));
  EXPECT_TRUE(root.exists("/flash/var/pdb/lib/version"));
  EXPECT_FALSE(root.exists("/flash/bin/extra"));
  EXPECT_FALSE(root.exists("/flash/var/pdb/extra"));
  EXPECT_EQ("user\n", root.read("/flash/var/pdb/tool/disabled"));
  EXPECT_TRUE(root.exists("/flash/bin/tool"));
  EXPECT_FALSE(root.exists("/flash/var/pdb/sleeper/disabled"));
  EXPECT_EQ("user\n", root.read("/flash/var/pdb/sleeper/enabled"));
}

TEST(ScheduledActionsRun, RefusesToLeaveNothingEnabled) {
  ScratchRoot root;
  installEntry(root, "a");
  installEntry(root, "b");
  root.write("/ram/pdb/a/schedule", "uninstall\n");
  root.write("/ram/pdb/b/schedule", "disable\n");
  RunResult result = root.run({});
  EXPECT_NE(std::string::npos, result.outPlain.find("ERROR: can not uninstall or disable all packages\n"))
      << result.outPlain;
  EXPECT_TRUE(root.exists("/flash/bin/a"));
  EXPECT_TRUE(root.exists("/flash/var/pdb/a/version"));
  EXPECT_FALSE(root.exists("/flash/var/pdb/b/disabled"));
}

}  // namespace
