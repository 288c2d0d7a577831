// "--cleanup" end to end: what is not built for system 3.22 or later goes.
#include <gtest/gtest.h>

#include "support/fixtures.h"
#include "support/scratch_root.h"

using namespace fixtures;

namespace {

qpk::PackageSpec needing(const std::string& name, std::vector<Relation> dependencies) {
  qpk::PackageSpec s = spec(name, "1.0", {file("/bin/" + name, name)});
  s.dependencies = std::move(dependencies);
  return s;
}

TEST(Cleanup, RemovesWhatDoesNotRequireACurrentSystem) {
  ScratchRoot root;
  upload(root, "system.qpk", build(spec("system", "3.22", {file("/bin/system", "s")})));
  ASSERT_EQ(root.run({}).status, 0);
  ASSERT_TRUE(root.exists("/flash/var/pdb/system"));
  root.remove("/rw/pckg/.download/system.qpk");

  const std::vector<std::pair<std::string, qpk::PackageSpec>> packages = {
      {"modern", needing("modern", {relation("system", "3.22")})},
      {"old", needing("old", {relation("system", "3.21")})},
      {"nodep", needing("nodep", {})},
      {"anyver", needing("anyver", {relation("system")})},
      {"multi", needing("multi", {relation("system", "3.21"), relation("system", "3.22")})},
      {"zelk", needing("zelk", {})},
      {"disk-drivers", needing("disk-drivers", {})},
  };
  for (const auto& [name, s] : packages) upload(root, name + ".qpk", build(s));
  upload(root, "bund.qpk",
         buildBundle(bundle("bund", "1.0", {needing("member-new", {relation("system", "3.22")}), needing("member-old", {})},
                            "bundle image")));
  const RunResult install = root.run({});
  ASSERT_EQ(install.status, 0) << install.outPlain;
  ASSERT_TRUE(hasLine(install.outPlain, "installed bund-1.0")) << install.outPlain;
  root.remove("/flash/PCKGS_CHANGED");
  const std::string log = root.read("/flash/postlog");

  const RunResult run = root.run({"--cleanup"});
  EXPECT_EQ(run.status, 0) << run.err;
  for (const char* kept : {"system", "modern", "multi", "zelk", "disk-drivers", "bund", "member-new"}) {
    EXPECT_TRUE(root.exists(std::string("/flash/var/pdb/") + kept)) << kept;
  }
  for (const char* gone : {"old", "nodep", "anyver", "member-old"}) {
    EXPECT_FALSE(root.exists(std::string("/flash/var/pdb/") + gone)) << gone;
  }
  for (const char* gone : {"old", "nodep", "anyver"}) {
    EXPECT_FALSE(root.exists(std::string("/flash/bin/") + gone)) << gone;
  }
  EXPECT_EQ(root.read("/flash/bin/modern"), "modern");
  // The clean-up commits at once, but is no upgrade: no marker, no log.
  EXPECT_FALSE(root.exists("/flash/PCKGS_CHANGED"));
  EXPECT_FALSE(root.exists("/ram/MANIFEST"));
  EXPECT_EQ(root.read("/flash/postlog"), log);
}

}  // namespace
