// Scheduled requests settled and carried out by a real run of the installer
// on a scratch root: what the run prints and what it leaves on flash.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/fixtures.h"

namespace {

using namespace fixtures;

// Uninstalling, asked for or of a broken entry, is silent; removals run last loaded first, enables in
// dependency order; a user's choice is recorded as "user", the engine's as
// "auto"; a state file that no longer holds is removed.
TEST(ActionStaging, SettledRequestsReachTheDatabase) {
  ScratchRoot root;
  const std::map<std::string, std::string> kept = {{"lib", ""},   {"app", "lib 0 0\n"}, {"tool", ""},
                                                   {"rival", ""}, {"base", ""},         {"sleeper", "base 0 0\n"}};
  for (const auto& [name, deps] : kept) {
    installEntry(root, name, deps, name == "tool" ? "enabled" : name == "base" || name == "sleeper" ? "disabled" : "");
  }
  installEntry(root, "extra");
  installEntry(root, "junk");
  root.write("/flash/var/pdb/junk/version", "\xff\x01junk");  // a broken entry goes as well
  root.write("/flash/var/pdb/rival/conflicts", "sleeper 0 0\n");  // goes when sleeper comes
  root.write("/flash/var/pdb/base/enabled", "user\n");            // stale: "disabled" wins
  root.write("/ram/pdb/lib/schedule", "uninstall\n");              // app needs it: refused
  root.write("/ram/pdb/tool/schedule", "disable\n");
  root.write("/ram/pdb/extra/schedule", "uninstall\n");
  root.write("/ram/pdb/sleeper/schedule", "enable\n");
  const std::vector<std::string> order = listingOrder(root);
  const bool toolFirst = std::find(order.begin(), order.end(), "tool") < std::find(order.begin(), order.end(), "rival");

  const RunResult result = root.run({});
  EXPECT_EQ(0, result.status) << result.err;
  EXPECT_EQ(std::string("WARNING: can not uninstall lib-1.0: app depends on it\n") +
                (toolFirst ? "disabled rival-1.0\ndisabled tool-1.0\n" : "disabled tool-1.0\ndisabled rival-1.0\n") +
                "enabled base-1.0\nenabled sleeper-1.0\n",
            result.outPlain);
  EXPECT_NE(std::string::npos, result.out.find("\renabling sleeper-1.0...")) << result.out;
  std::map<std::string, std::string> expected = {{"/flash/PCKGS_CHANGED", ""},
                                                 {"/flash/var/pdb/tool/disabled", "user\n"},
                                                 {"/flash/var/pdb/rival/disabled", "auto\n"},
                                                 {"/flash/var/pdb/rival/conflicts", "sleeper 0 0\n"},
                                                 {"/flash/var/pdb/sleeper/enabled", "user\n"}};
  for (const auto& [name, deps] : kept) {
    const std::string entry = "/flash/var/pdb/" + name + "/";
    expected["/flash/bin/" + name] = "binary of " + name;
    expected[entry + "deps"] = deps;
    expected[entry + "files"] = "flash/bin/" + name + "\n";
    expected[entry + "version"] = std::to_string(version("1.0")) + " 100\n";
  }
  EXPECT_EQ(expected, flashTree(root));
}

}  // namespace
