// Writing database entries back, in a chrooted child of a scratch root.
#include <gtest/gtest.h>
#include <unistd.h>

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

using View = std::map<std::string, std::string>;

// The staged view with the entry directory's prefix cut from its targets;
// every entry file keeps the temporary's owner-only mode.
View entryView(const StagedChanges& staged) {
  View view;
  for (const auto& [target, content] : stagedView(staged)) {
    const StagedChange& change = staged.at(target);
    const bool owner = change.kind != ChangeKind::MoveTemporary || fileMode(change.data) == 0600;
    view[target.substr(kEntry.size())] = owner ? content : content + " (mode)";
  }
  return view;
}

}  // namespace

// Which entry files are written (byte exact), kept or removed.
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
      {"a bundle has no file list and keeps the user's choice", {}, [](Package& p) { p.isBundle = p.byUser = true; },
       {{"version", "103704073 5\n"}, {"deps", ""}, {"enabled", "user\n"}}},
      // A blob, or the state-only flag: only the state file is written.
      {"state only: a blob", {{"version", "1 1\n"}, {"bundle", "suite\n"}, {"enabled", "user\n"}},
       [](Package& p) { p.hasBlob = p.disabled = true; }, {{"disabled", "auto\n"}, {"enabled", "<remove>"}}},
      {"state only: the flag", {{"version", "1 1\n"}, {"enabled", "user\n"}},
       [](Package& p) { p.flags = kFlagStateOnly | kFlagBootImage, p.dependencies = {{"a", 1, 2, 0}}; },
       {{"enabled", "<remove>"}}},
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

// Names that cannot own an entry directory stage nothing anywhere, and
// metadata the entry files cannot hold is refused before anything is staged.
TEST(EntryWriter, UnusableNamesAndMetadataStageNothing) {
  ScratchRoot root;
  for (const char* path : {"/flash/var/pdb/image", "/flash/var/pdb/enabled", "/flash/var/disabled", "/flash/var/image",
                           "/flash/bootimage"}) {
    root.write(path, "x");
  }
  EXPECT_TRUE(root.runInside([] {
    std::ostringstream console;
    setConsoleStream(&console);
    for (const char* name : {"", ".", "..", "a/b", "../var", "/"}) {
      Package p(name);
      p.version = kV1;
      p.files = {"/flash/var/image"};
      p.flags = kFlagBootImage;
      p.disabled = true;
      p.action = PendingAction::Uninstall;
      StagedChanges staged;
      EXPECT_FALSE(writeEntry(p, staged)) << name;
      EXPECT_FALSE(prepareEntryDirectory(p, staged)) << name;
      writeDisabledFile(p, staged);
      std::vector<Package*> list{&p};
      recordEnabled(Repository::instance(), list, staged, false);
      EXPECT_FALSE(p.disabled);
      removeEntry(Repository::instance(), p, staged);
      EXPECT_TRUE(staged.empty()) << "'" << name << "' staged " << staged.begin()->first;
      EXPECT_TRUE(p.files.empty());
      EXPECT_EQ(p.action, PendingAction::None);
    }
    // A newline in a path would split it in two on the next load, and the
    // uninstallation would remove a file the package never had.
    for (int form = 0; form < 4; ++form) {
      Package p = fooPackage();
      if (form == 0) p.dependencies = {{"two words", 0, 0, 0}};
      if (form == 1) p.provides = {{"", 0, 0, 0}};
      if (form == 2) p.bundle = {"a\nb", 0, 0, 0};
      if (form == 3) p.files = {"/flash/x\n/flash/etc/passwd"};
      StagedChanges staged;
      EXPECT_FALSE(writeEntry(p, staged)) << form;
      EXPECT_TRUE(staged.empty()) << form;
    }
    std::string expected;
    for (const char* label : {"-1.0", ".-1.0", "..-1.0", "a/b-1.0", "../var-1.0", "/-1.0", "foo-6.46.9", "foo-6.46.9",
                              "a\nb", "foo-6.46.9"}) {
      expected += std::string("ERROR: installation of ") + label + " failed: broken package\n";
    }
    EXPECT_EQ(console.str(), expected);
  }));
}

// Stored paths are removed as they are (never "/flash/" + path), only below
// "/flash" and outside the database, and not while another record lists
// them; the boot image goes with the last link to it.
TEST(EntryWriter, RemoveEntryStagesStoredPathsAsTheyAre) {
  ScratchRoot root;
  for (const char* path : {"/flash/bin/x", "/flash/flash/bin/x", "/flash/bin/shared", "/etc/passwd",
                           "/flash/var/pdb/other/version", "/flash/bootimage"}) {
    root.write(path, "x");
  }
  writeEntry(root, "foo", {{"version", "1 1\n"}, {"image", "img"}});
  writeEntry(root, "two", {{"image", "img"}});
  EXPECT_TRUE(root.runInside([] {
    Repository& repository = Repository::instance();
    Package& p = *repository.packages.emplace_back(std::make_unique<Package>(fooPackage()));
    p.files = {"/flash/bin/x", "/flash/bin/gone", "/flash/bin/shared", "/etc/passwd", "/flash/var/pdb/other/version"};
    p.flags = kFlagBootImage;
    p.action = PendingAction::Uninstall;
    repository.packages.emplace_back(std::make_unique<Package>("keeper"))->files = {"/flash/bin/shared"};
    StagedChanges staged;
    removeEntry(repository, p, staged);
    EXPECT_EQ(stagedView(staged), (View{{"/flash/bin/x", "<remove>"},
                                        {"/flash/bootimage", "<remove>"},
                                        {"/flash/var/pdb/foo/", "<remove>"},
                                        {"/flash/var/pdb/foo/image", "<remove>"}}));
    EXPECT_TRUE(p.files.empty());
    EXPECT_EQ(p.action, PendingAction::None);
    // A boot image with a second link is still in use.
    ASSERT_EQ(0, ::link("/flash/bootimage", "/flash/bootimage.keep"));
    Package two("two");
    two.flags = kFlagBootImage;
    StagedChanges second;
    removeEntry(repository, two, second);
    EXPECT_EQ(stagedView(second), (View{{"/flash/var/pdb/two/", "<remove>"}, {"/flash/var/pdb/two/image", "<remove>"}}));
  }));
}
