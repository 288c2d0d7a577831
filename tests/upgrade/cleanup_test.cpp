// "--cleanup" end to end: what is not built for system 3.22 or later goes,
// except the base packages and bundles; no marker, no log, no manifest.
#include <gtest/gtest.h>

#include "app/scenario.h"

using namespace scenario;

namespace {

TEST(Cleanup, RemovesWhatDoesNotRequireACurrentSystem) {
  const auto needing = [](const std::string& name, std::vector<Relation> dependencies) {
    return with(S(name, "1.0", {{"/bin/" + name, name}}), [&](auto& s) { s.dependencies = dependencies; });
  };
  Files uploads = {{"system.qpk", pack("system", "3.22", {{"/bin/system", "s"}})},
                   {"bund.qpk", buildBundle(bundle("bund", "1.0", {needing("member-new", {relation("system", "3.22")}),
                                                                   needing("member-old", {})}, "image"))}};
  const std::vector<std::pair<std::string, std::vector<Relation>>> packages = {
      {"modern", {relation("system", "3.22")}}, {"old", {relation("system", "3.21")}}, {"nodep", {}},
      {"anyver", {relation("system")}}, {"multi", {relation("system", "3.21"), relation("system", "3.22")}},
      {"zelk", {}}, {"disk-drivers", {}}};
  for (const auto& [name, dependencies] : packages) uploads.push_back({name + ".qpk", build(needing(name, dependencies))});
  ScratchRoot root;
  installFirst(root, uploads);
  const std::string log = root.read("/flash/postlog");
  const RunResult run = root.run({"--cleanup"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out + run.err, "");
  std::set<std::string> entries;
  for (const std::string& path : root.list("/flash/var/pdb")) entries.insert(path.substr(0, path.find('/')));
  EXPECT_EQ(entries, (std::set<std::string>{"bund", "disk-drivers", "member-new", "modern", "multi", "system", "zelk"}));
  EXPECT_EQ(root.list("/flash/bin"),
            (std::vector<std::string>{"disk-drivers", "member-new", "modern", "multi", "system", "zelk"}));
  EXPECT_FALSE(root.exists("/flash/PCKGS_CHANGED"));
  EXPECT_EQ(root.list("/ram"), std::vector<std::string>{});
  EXPECT_EQ(root.read("/flash/postlog"), log);
}

}  // namespace
