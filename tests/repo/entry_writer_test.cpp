// Writing database entries back, in-process inside a chrooted child of a
// scratch root: which files are written, kept or removed, their bytes, the
// removal of a whole entry, and the messages of a failed write.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "console/messages.h"
#include "repo/entry_directory.h"
#include "repo/entry_writer.h"
#include "repo/package_entry.h"
#include "repo/repository.h"
#include "support/fixtures.h"

using namespace fixtures;

namespace {

const std::string kEntry = "/flash/var/pdb/foo/";

constexpr Version kV1 = makeVersion(1, 0, Final, 0);

Package fooPackage() {
  Package p("foo");
  p.version = makeVersion(6, 46, Final, 9);
  p.buildTime = 5;
  return p;
}

// The staged view with the entry directory's prefix cut from its targets.
std::map<std::string, std::string> entryView(const StagedChanges& staged) {
  std::map<std::string, std::string> view;
  for (const auto& [target, content] : stagedView(staged)) {
    view[target.rfind(kEntry, 0) == 0 ? target.substr(kEntry.size()) : target] = content;
  }
  return view;
}

using View = std::map<std::string, std::string>;

}  // namespace

TEST(EntryWriter, WhichFilesAreWrittenKeptOrRemoved) {
  const struct {
    const char* what;
    std::map<std::string, std::string> before;  // the entry's files
    std::function<void(Package&)> change;
    View staged;
  } cases[] = {
      {"full metadata, byte exact",
       {{"enabled", "user\n"}, {"provides", "old 0 0 0\n"}, {"image", "x"}},
       [](Package& p) {
         p.dependencies = {{"a", 1, 2, 0}, {"b", 0, 0, 0}};
         p.provides = {{"p", 3, 0, -1}};
         p.conflicts = {{"c", 0, 7, 0}};
         p.bundle = {"suite", 9, 9, 0};
         p.files = {"/flash/lib/y", "", "/flash/bin/x"};  // stored absolute; an empty one is skipped
         p.disabled = p.byUser = true;
       },
       {{"version", "103704073 5\n"}, {"deps", "a 1 2\nb 0 0\n"}, {"provides", "p 3 0 -1\n"},
        {"conflicts", "c 0 7\n"}, {"bundle", "suite\n"}, {"files", "flash/bin/x\nflash/lib/y\n"},
        {"disabled", "user\n"}, {"enabled", "<remove>"}}},
      // Empty lists: "deps" is written with zero bytes, "provides" and
      // "conflicts" are neither written nor removed.
      {"leftovers of an older state",
       {{"provides", "old 0 0 0\n"}, {"conflicts", "old 0 0\n"}, {"bundle", "suite\n"}, {"disabled", "auto\n"},
        {"enabled", "user\n"}},
       [](Package&) {},
       {{"version", "103704073 5\n"}, {"deps", ""}, {"bundle", "<remove>"}, {"files", ""}, {"disabled", "<remove>"},
        {"enabled", "<remove>"}}},
      {"a bundle has no file list and keeps the user's choice",
       {},
       [](Package& p) { p.isBundle = p.byUser = true; },
       {{"version", "103704073 5\n"}, {"deps", ""}, {"enabled", "user\n"}}},
      {"state only: a blob",
       {{"version", "1 1\n"}, {"bundle", "suite\n"}, {"enabled", "user\n"}},
       [](Package& p) {
         p.hasBlob = p.disabled = true;
         p.files = {"/flash/bin/x"};
       },
       {{"disabled", "auto\n"}, {"enabled", "<remove>"}}},
      {"state only: flag 0x2",
       {{"version", "1 1\n"}, {"enabled", "user\n"}},
       [](Package& p) {
         p.flags = kFlagStateOnly | kFlagBootImage;
         p.dependencies = {{"a", 1, 2, 0}};
         p.disabled = true;
       },
       {{"disabled", "auto\n"}, {"enabled", "<remove>"}}},
  };
  for (const auto& c : cases) {
    ScratchRoot root;
    writeEntry(root, "foo", c.before);
    EXPECT_TRUE(root.runInside([&c] {
      Package p = fooPackage();
      c.change(p);
      StagedChanges staged;
      ASSERT_TRUE(writeEntry(p, staged));
      EXPECT_EQ(entryView(staged), c.staged);
      discardChanges(staged);
    })) << c.what;
  }
}

TEST(EntryWriter, UnusableNamesAndMetadataStageNothing) {
  ScratchRoot root;
  root.write("/flash/var/pdb/image", "database-level file");
  root.write("/flash/var/disabled", "x");
  root.write("/flash/var/image", "x");
  root.write("/flash/bootimage", "boot");
  EXPECT_TRUE(root.runInside([] {
    std::ostringstream console;
    setConsoleStream(&console);
    for (const char* name : {"", ".", "..", "a/b", "../var"}) {
      Package p(name);
      p.version = kV1;
      p.files = {"/flash/var/image"};
      p.flags = kFlagBootImage;
      p.disabled = true;
      p.action = PendingAction::Uninstall;
      StagedChanges staged;
      EXPECT_FALSE(writeEntry(p, staged)) << name;
      writeDisabledFile(p, staged);
      std::vector<Package*> list{&p};
      recordEnabled(Repository::instance(), list, staged, false);
      EXPECT_FALSE(p.disabled);
      removeEntry(Repository::instance(), p, staged);
      EXPECT_TRUE(staged.empty()) << "'" << name << "' staged " << staged.begin()->first;
      EXPECT_TRUE(p.files.empty());
      EXPECT_EQ(p.action, PendingAction::None);
    }
    EXPECT_NE(console.str().find("ERROR: installation of ..-1.0 failed: broken package\n"), std::string::npos)
        << console.str();
    // Metadata the entry files cannot hold is refused before anything is staged.
    for (int form = 0; form < 4; ++form) {
      Package p = fooPackage();
      if (form == 0) p.dependencies = {{"two words", 0, 0, 0}};
      if (form == 1) p.provides = {{"", 0, 0, 0}};
      if (form == 2) p.bundle = {"a\nb", 0, 0, 0};
      // A newline would split the path in two on the next load, and the
      // uninstallation would remove a file the package never had.
      if (form == 3) p.files = {"/flash/x\n/flash/etc/passwd"};
      StagedChanges staged;
      EXPECT_FALSE(writeEntry(p, staged)) << form;
      EXPECT_TRUE(staged.empty()) << form;
    }
    EXPECT_NE(console.str().find("installation of foo-6.46.9 failed: broken package"), std::string::npos);
  }));
}

TEST(EntryWriter, RecordEnabledClearsTheDisabledState) {
  ScratchRoot root;
  writeEntry(root, "foo", {{"disabled", "user\n"}});
  writeEntry(root, "bar", {{"disabled", "auto\n"}, {"enabled", "user\n"}});
  EXPECT_TRUE(root.runInside([] {
    std::ostringstream console;
    setConsoleStream(&console);
    Package foo = fooPackage();
    foo.disabled = true;
    foo.byUser = true;
    foo.action = PendingAction::Enable;
    Package bar("bar");
    bar.version = kV1;
    bar.disabled = true;
    std::vector<Package*> list{&foo, &bar};
    StagedChanges staged;
    recordEnabled(Repository::instance(), list, staged, true);
    EXPECT_EQ(stagedView(staged), (View{{"/flash/var/pdb/bar/disabled", "<remove>"},
                                        {"/flash/var/pdb/bar/enabled", "<remove>"},
                                        {"/flash/var/pdb/foo/disabled", "<remove>"},
                                        {"/flash/var/pdb/foo/enabled", "user\n"}}));
    EXPECT_FALSE(foo.disabled);
    EXPECT_FALSE(bar.disabled);
    EXPECT_EQ(foo.action, PendingAction::None);
    const std::string out = console.str();
    size_t first = out.find("enabled foo-6.46.9\n");
    EXPECT_NE(first, std::string::npos) << out;
    EXPECT_NE(out.find("enabled bar-1.0\n", first), std::string::npos) << out;
    EXPECT_NE(out.find("enabling foo-6.46.9..."), std::string::npos) << out;
    discardChanges(staged);
  }));
}

TEST(EntryWriter, RemoveEntryStagesStoredPathsAsTheyAre) {
  ScratchRoot root;
  root.write("/flash/bin/x", "x");
  root.write("/flash/flash/bin/x", "decoy");  // what "/flash/" + path would hit
  writeEntry(root, "foo", {{"version", "1 1\n"}, {"image", "img"}});
  writeEntry(root, "two", {{"image", "img"}});
  root.write("/flash/bootimage", "boot");
  EXPECT_TRUE(root.runInside([] {
    Package p = fooPackage();
    p.files = {"/flash/bin/x", "/flash/bin/gone"};
    p.flags = kFlagBootImage;
    p.action = PendingAction::Uninstall;
    StagedChanges staged;
    removeEntry(Repository::instance(), p, staged);
    EXPECT_EQ(stagedView(staged), (View{{"/flash/bin/x", "<remove>"},
                                        {"/flash/bootimage", "<remove>"},
                                        {"/flash/var/pdb/foo/", "<remove>"},
                                        {"/flash/var/pdb/foo/image", "<remove>"}}));
    EXPECT_TRUE(p.files.empty());
    EXPECT_EQ(p.action, PendingAction::None);

    // A boot image with a second link is still in use; without the flag it is not ours.
    ASSERT_EQ(0, ::link("/flash/bootimage", "/flash/bootimage.keep"));
    Package two("two");
    two.flags = kFlagBootImage;
    StagedChanges second;
    removeEntry(Repository::instance(), two, second);
    EXPECT_EQ(stagedView(second),
              (View{{"/flash/var/pdb/two/", "<remove>"}, {"/flash/var/pdb/two/image", "<remove>"}}));
    ASSERT_EQ(0, ::unlink("/flash/bootimage.keep"));
    Package plain("two");
    StagedChanges third;
    removeEntry(Repository::instance(), plain, third);
    EXPECT_EQ(third.count("/flash/bootimage"), 0u);
  }));
}

TEST(EntryWriter, WriteFailuresAreReportedByCause) {
  ScratchRoot root;
  // A small flash leaves no room for temporaries there, so they go to /ram:
  // first a full one, then none at all.
  EXPECT_TRUE(runIsolated(
      [] {
        std::ostringstream console;
        setConsoleStream(&console);
        {
          std::ofstream fill("/ram/fill", std::ios::binary);
          std::string block(4096, 'f');
          while (fill.write(block.data(), block.size()) && fill.flush()) {
          }
        }
        Package p = fooPackage();
        StagedChanges staged;
        EXPECT_FALSE(writeEntry(p, staged));
        EXPECT_EQ(console.str(), "ERROR: installation of foo-6.46.9 failed: disk is too small\n");
        discardChanges(staged);

        // A member is reported under its bundle's label.
        p.bundle = {"suite", kV1, kV1, 0};
        console.str("");
        EXPECT_FALSE(writeEntry(p, staged));
        EXPECT_EQ(console.str(), "ERROR: installation of suite-1.0 failed: disk is too small\n");
        discardChanges(staged);
        ::unlink("/ram/fill");

        ASSERT_EQ(0, ::umount("/ram"));
        ASSERT_EQ(0, ::rmdir("/ram"));
        console.str("");
        p.bundle = Relation();
        StagedChanges later;  // a run learns what its folders are once
        EXPECT_FALSE(writeEntry(p, later));
        EXPECT_EQ(console.str(),
                  "ERROR: installation of foo-6.46.9 failed: could not create meta/version: "
                  "No such file or directory\n");
        EXPECT_TRUE(later.empty());
      },
      {{root.host("/flash"), "64k"}, {root.host("/ram"), "64k"}}, root.path()));
}
