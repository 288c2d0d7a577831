// What applyActions stages, path by path. Staging looks at the real files
// (a removal is staged only for a path that exists), so every run happens in
// a child chrooted to a scratch root with its own database.
#include "resolve/action_engine.h"
#include "resolve_fixture.h"
#include "support/fixtures.h"

using fixtures::stagedView;

namespace {

class ActionStaging : public ResolveTest {
 protected:
  void installOnDisk(const std::string& name, const std::string& state = "") {
    fixtures::installEntry(root_, name, "", state);
  }
  Package& addInstalled(const std::string& name, const Installed& setup = {}) {
    Package& package = add(name, setup);
    package.files.insert("/flash/bin/" + name);
    return package;
  }

  ScratchRoot root_;
};

using View = std::map<std::string, std::string>;
using Names = std::vector<std::string>;

TEST_F(ActionStaging, UninstallRemovesFilesEntryAndImageSilently) {
  installOnDisk("gone");
  root_.write("/flash/var/pdb/gone/image", "stored package");
  installOnDisk("stays");
  EXPECT_TRUE(root_.runInside([&] {
    addInstalled("gone", {.action = A::Uninstall});
    addInstalled("stays");
    StagedChanges staged;
    EXPECT_TRUE(applyActions(repo(), 1, staged));
    EXPECT_EQ((View{{"/flash/bin/gone", "<remove>"},
                    {"/flash/var/pdb/gone/", "<remove>"},
                    {"/flash/var/pdb/gone/image", "<remove>"}}),
              stagedView(staged));
    EXPECT_EQ((Names{"stays"}), names());
    EXPECT_TRUE(log().empty());
    EXPECT_EQ("", console());
  }));
}

TEST_F(ActionStaging, DisableWritesTheStateFiles) {
  installOnDisk("byuser", "enabled");
  installOnDisk("byauto");
  installOnDisk("keeper");
  EXPECT_TRUE(root_.runInside([&] {
    addInstalled("byuser", {.action = A::Disable}).byUser = true;
    addInstalled("byauto", {.action = A::Disable});
    addInstalled("keeper");
    StagedChanges staged;
    EXPECT_TRUE(applyActions(repo(), 1, staged));
    EXPECT_EQ((View{{"/flash/var/pdb/byauto/disabled", "auto\n"},
                    {"/flash/var/pdb/byuser/disabled", "user\n"},
                    {"/flash/var/pdb/byuser/enabled", "<remove>"}}),
              stagedView(staged));
    // The last installed goes first.
    EXPECT_EQ((Names{"disabled byauto-1.0", "disabled byuser-1.0"}), log());
    EXPECT_NE(std::string::npos, console().find("disabling byauto-1.0..."));
    EXPECT_TRUE(repo().packages[0]->disabled);
    EXPECT_EQ(A::None, repo().packages[0]->action);
    discardChanges(staged);
  }));
}

TEST_F(ActionStaging, EnableWritesTheStateFilesInDependencyOrder) {
  installOnDisk("app", "disabled");
  installOnDisk("lib", "disabled");
  installOnDisk("keeper");
  EXPECT_TRUE(root_.runInside([&] {
    Package& app = addInstalled("app", {.action = A::Enable, .disabled = true, .dependencies = {rel("lib")}});
    app.byUser = true;
    Package& lib = addInstalled("lib", {.disabled = true});  // enabled because app needs it
    addInstalled("keeper");
    StagedChanges staged;
    EXPECT_TRUE(applyActions(repo(), 1, staged));
    EXPECT_EQ((View{{"/flash/var/pdb/app/disabled", "<remove>"},
                    {"/flash/var/pdb/app/enabled", "user\n"},
                    {"/flash/var/pdb/lib/disabled", "<remove>"}}),
              stagedView(staged));
    EXPECT_EQ((Names{"enabled lib-1.0", "enabled app-1.0"}), log());
    EXPECT_FALSE(app.disabled);
    EXPECT_FALSE(lib.disabled);
    discardChanges(staged);
  }));
}

TEST_F(ActionStaging, RecordsWithoutAnEntryNameStageNothing) {
  installOnDisk("keeper");
  EXPECT_TRUE(root_.runInside([&] {
    addInstalled("keeper");
    add("", {.action = A::Disable, .conflicts = {rel("member")}});
    add("..", {.action = A::Uninstall});
    add("", {.action = A::Enable, .disabled = true}).byUser = true;
    StagedChanges staged;
    EXPECT_TRUE(applyActions(repo(), 0, staged));
    EXPECT_TRUE(staged.empty()) << staged.begin()->first;
    EXPECT_EQ((Names{"keeper", "", ""}), names());
    EXPECT_TRUE(repo().packages[1]->disabled);
    EXPECT_FALSE(repo().packages[2]->disabled);
  }));
}

TEST_F(ActionStaging, UninstallTakesOutTheRecordItself) {
  installOnDisk("twin");
  EXPECT_TRUE(root_.runInside([&] {
    Package& first = addInstalled("twin");
    first.version = kV2;
    addInstalled("twin").action = A::Uninstall;
    StagedChanges staged;
    EXPECT_TRUE(applyActions(repo(), 0, staged));
    ASSERT_EQ(1u, repo().packages.size());
    EXPECT_EQ(&first, repo().packages[0].get());
    EXPECT_EQ(kV2, repo().packages[0]->version);
  }));
}

}  // namespace
