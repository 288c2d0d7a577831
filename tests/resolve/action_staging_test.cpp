// What applyActions stages, path by path. Staging looks at the real files
// (a removal is staged only for a path that exists), so every run happens in
// a child chrooted to a scratch root with its own database.
#include <fstream>
#include <sstream>

#include "resolve/action_engine.h"
#include "resolve_fixture.h"
#include "staging/staged_changes.h"
#include "support/scratch_root.h"

namespace {

class ActionStaging : public ResolveTest {
 protected:
  // An installed package "name" with one file and a database entry.
  void installOnDisk(const std::string& name, const std::string& state = "") {
    root_.write("/flash/var/pdb/" + name + "/version", "16777318 100\n");
    root_.write("/flash/var/pdb/" + name + "/files", "flash/bin/" + name + "\n");
    root_.write("/flash/bin/" + name, "binary of " + name);
    if (state == "disabled") root_.write("/flash/var/pdb/" + name + "/disabled", "auto\n");
    if (state == "enabled") root_.write("/flash/var/pdb/" + name + "/enabled", "user\n");
  }
  Package& addInstalled(const std::string& name) {
    Package& package = add(name);
    package.files.insert("/flash/bin/" + name);
    return package;
  }
  static std::string kindAt(const StagedChanges& staged, const std::string& path) {
    auto it = staged.find(path);
    if (it == staged.end()) return "-";
    switch (it->second.kind) {
      case ChangeKind::Remove: return "remove";
      case ChangeKind::MoveTemporary: {
        std::ifstream in(it->second.data);
        std::stringstream content;
        content << in.rdbuf();
        return "write " + content.str();
      }
      default: return "other";
    }
  }
  static std::vector<std::string> paths(const StagedChanges& staged) {
    std::vector<std::string> result;
    for (const auto& [path, change] : staged) result.push_back(path);
    return result;
  }

  ScratchRoot root_;
};

using Paths = std::vector<std::string>;
using Names = std::vector<std::string>;

TEST_F(ActionStaging, UninstallRemovesFilesEntryAndImageSilently) {
  installOnDisk("gone");
  root_.write("/flash/var/pdb/gone/image", "stored package");
  installOnDisk("stays");
  EXPECT_TRUE(root_.runInside([&] {
    Package& gone = addInstalled("gone");
    gone.action = A::Uninstall;
    addInstalled("stays");
    StagedChanges staged;
    EXPECT_TRUE(applyActions(repo(), 1, staged));
    EXPECT_EQ((Paths{"/flash/bin/gone", "/flash/var/pdb/gone/", "/flash/var/pdb/gone/image"}), paths(staged));
    for (const auto& [path, change] : staged) EXPECT_EQ(ChangeKind::Remove, change.kind) << path;
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
    Package& byUser = addInstalled("byuser");
    byUser.byUser = true;
    byUser.action = A::Disable;
    addInstalled("byauto").action = A::Disable;
    addInstalled("keeper");
    StagedChanges staged;
    EXPECT_TRUE(applyActions(repo(), 1, staged));
    EXPECT_EQ((Paths{"/flash/var/pdb/byauto/disabled", "/flash/var/pdb/byuser/disabled",
                     "/flash/var/pdb/byuser/enabled"}),
              paths(staged));
    EXPECT_EQ("write user\n", kindAt(staged, "/flash/var/pdb/byuser/disabled"));
    EXPECT_EQ("remove", kindAt(staged, "/flash/var/pdb/byuser/enabled"));
    EXPECT_EQ("write auto\n", kindAt(staged, "/flash/var/pdb/byauto/disabled"));
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
    Package& app = addInstalled("app");
    app.disabled = true;
    app.byUser = true;
    app.action = A::Enable;
    app.dependencies = {rel("lib")};
    Package& lib = addInstalled("lib");
    lib.disabled = true;  // enabled because app needs it
    addInstalled("keeper");
    StagedChanges staged;
    EXPECT_TRUE(applyActions(repo(), 1, staged));
    EXPECT_EQ((Paths{"/flash/var/pdb/app/disabled", "/flash/var/pdb/app/enabled", "/flash/var/pdb/lib/disabled"}),
              paths(staged));
    EXPECT_EQ("remove", kindAt(staged, "/flash/var/pdb/app/disabled"));
    EXPECT_EQ("write user\n", kindAt(staged, "/flash/var/pdb/app/enabled"));
    EXPECT_EQ("remove", kindAt(staged, "/flash/var/pdb/lib/disabled"));
    EXPECT_EQ((Names{"enabled lib-1.0", "enabled app-1.0"}), log());
    EXPECT_FALSE(app.disabled);
    EXPECT_FALSE(lib.disabled);
    discardChanges(staged);
  }));
}

TEST_F(ActionStaging, NothingToDoOrRefusedStagesNothing) {
  installOnDisk("only");
  EXPECT_TRUE(root_.runInside([&] {
    addInstalled("only");
    StagedChanges staged;
    EXPECT_FALSE(applyActions(repo(), 1, staged));
    repo().packages[0]->action = A::Uninstall;
    EXPECT_FALSE(applyActions(repo(), 1, staged));
    EXPECT_TRUE(staged.empty());
    EXPECT_EQ(A::None, repo().packages[0]->action);
    EXPECT_EQ((Names{"ERROR: can not uninstall or disable all packages"}), log());
    repo().packages[0]->action = A::Uninstall;
    EXPECT_FALSE(applyActions(repo(), 0, staged));
    EXPECT_EQ(1u, log().size());
  }));
}

TEST_F(ActionStaging, RecordsWithoutAnEntryNameStageNothing) {
  installOnDisk("keeper");
  EXPECT_TRUE(root_.runInside([&] {
    addInstalled("keeper");
    Package& blocker = add("");
    blocker.conflicts = {rel("member")};
    blocker.action = A::Disable;
    Package& dotted = add("..");
    dotted.action = A::Uninstall;
    Package& hidden = add("");
    hidden.disabled = true;
    hidden.byUser = true;
    hidden.action = A::Enable;
    StagedChanges staged;
    EXPECT_TRUE(applyActions(repo(), 0, staged));
    EXPECT_TRUE(staged.empty()) << paths(staged).front();
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
