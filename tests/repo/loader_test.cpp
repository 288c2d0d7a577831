// Loading the package database, in-process inside a chrooted child of a
// scratch root: load order, broken entries, state files, schedules, and
// corrupt images that must never crash the loader.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "console/messages.h"
#include "database_fixtures.h"
#include "platform/endian.h"
#include "repo/repository.h"

using namespace dbtest;

namespace {

std::vector<std::string> namesOf(const Repository& repository) {
  std::vector<std::string> names;
  for (const auto& package : repository.packages) names.push_back(package->name);
  return names;
}

// Runs fn on a freshly opened repository inside the scratch root, with the
// console captured.
bool withLoaded(const ScratchRoot& root, const std::function<void(Repository&, const std::string&)>& fn) {
  return root.runInside([&fn] {
    std::ostringstream console;
    setConsoleStream(&console);
    Repository& repository = Repository::instance();
    repository.reset();
    repository.open("i386", false);
    fn(repository, console.str());
  });
}

}  // namespace

TEST(Loader, EmptyDatabaseGivesEmptyListAndNoWarning) {
  ScratchRoot root;
  EXPECT_TRUE(withLoaded(root, [](Repository& repository, const std::string& console) {
    EXPECT_TRUE(repository.packages.empty());
    EXPECT_EQ(console, "");
    EXPECT_EQ(repository.architecture, "i386");
  }));
}

TEST(Loader, MissingDatabaseDirectoryWarnsAndLoadsNothing) {
  ScratchRoot root;
  ASSERT_EQ(0, ::rmdir(root.host("/flash/var/pdb").c_str()));
  // An image in the images directory is never looked at without its entry.
  root.write("/rw/pckg/.images/a", image(spec("a", kV1)));
  EXPECT_TRUE(withLoaded(root, [](Repository& repository, const std::string& console) {
    EXPECT_TRUE(repository.packages.empty());
    EXPECT_EQ(console, "WARNING: could not open repo\n");
  }));
}

TEST(Loader, BrokenEntriesAreMarkedForUninstall) {
  ScratchRoot root;
  writeEntryFiles(root, "bare", {});
  writeEntryFiles(root, "badversion", {{"version", "1.0 7\n"}, {"files", "bin/x\n"}});
  // Tokens in threes: "a 1 2" reads, "b" has no numbers.
  writeEntryFiles(root, "baddeps", {{"version", "16777216 5\n"}, {"deps", "a 1 2 b"}, {"files", ""}});
  writeEntryFiles(root, "badprio", {{"version", "16777216 5\n"}, {"provides", "p 1 2 high\n"}, {"files", ""}});
  writeEntryFiles(root, "orphan", {{"version", "16777216 5\n"}, {"bundle", "big\n"}, {"files", ""}});
  writeEntryFiles(root, "good", {{"version", "16777216 5\n"},
                                 {"deps", "x 0 0\ny 3 4\n"},
                                 {"provides", "p 1 0 -2\n"},
                                 {"conflicts", "z 0 9\n"},
                                 {"bundle", "   \n"},
                                 {"files", "bin/x\n/bin/x\n\nlib/y"}});
  EXPECT_TRUE(withLoaded(root, [](Repository& repository, const std::string& console) {
    EXPECT_EQ(console, "");
    ASSERT_EQ(repository.packages.size(), 6u);
    Package* bare = repository.findInstalled("bare");
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(bare->version, 0u);
    EXPECT_TRUE(bare->isBundle);
    EXPECT_EQ(bare->action, PendingAction::Uninstall);

    EXPECT_EQ(repository.findInstalled("badversion")->action, PendingAction::Uninstall);

    Package* baddeps = repository.findInstalled("baddeps");
    EXPECT_EQ(baddeps->action, PendingAction::Uninstall);
    ASSERT_EQ(baddeps->dependencies.size(), 1u);
    EXPECT_EQ(baddeps->dependencies[0].name, "a");
    EXPECT_EQ(baddeps->dependencies[0].maxVersion, 2u);

    EXPECT_EQ(repository.findInstalled("badprio")->action, PendingAction::Uninstall);

    Package* orphan = repository.findInstalled("orphan");
    EXPECT_EQ(orphan->action, PendingAction::Uninstall);
    EXPECT_EQ(orphan->bundle.name, "big");
    EXPECT_EQ(orphan->bundle.minVersion, 0u);

    Package* good = repository.findInstalled("good");
    EXPECT_EQ(good->action, PendingAction::None);
    EXPECT_EQ(good->version, 16777216u);
    EXPECT_EQ(good->buildTime, 5u);
    EXPECT_FALSE(good->isBundle);
    EXPECT_TRUE(good->bundle.name.empty());
    ASSERT_EQ(good->dependencies.size(), 2u);
    EXPECT_EQ(good->dependencies[1].minVersion, 3u);
    EXPECT_EQ(good->dependencies[1].maxVersion, 4u);
    ASSERT_EQ(good->provides.size(), 1u);
    EXPECT_EQ(good->provides[0].priority, -2);
    ASSERT_EQ(good->conflicts.size(), 1u);
    EXPECT_EQ(good->conflicts[0].maxVersion, 9u);
    // Lines with and without the leading "/" collapse; the last line needs no newline.
    EXPECT_EQ(good->files, (FileSet{"/bin/x", "/lib/y"}));
  }));
}

TEST(Loader, StateFilesAndScheduleWords) {
  ScratchRoot root;
  const std::string ok = "16777216 5\n";
  writeEntryFiles(root, "auto", {{"version", ok}, {"disabled", "auto\n"}});
  writeEntryFiles(root, "autonl", {{"version", ok}, {"disabled", "auto"}});
  writeEntryFiles(root, "autox", {{"version", ok}, {"disabled", "autox\n"}});
  writeEntryFiles(root, "user", {{"version", ok}, {"disabled", "user\n"}});
  writeEntryFiles(root, "empty", {{"version", ok}, {"disabled", ""}});
  writeEntryFiles(root, "both", {{"version", ok}, {"disabled", "auto\n"}, {"enabled", "user\n"}});
  writeEntryFiles(root, "enabled", {{"version", ok}, {"enabled", ""}});
  writeEntryFiles(root, "plain", {{"version", ok}});
  // Schedule files are found by the name with every byte but [A-Za-z0-9-] removed.
  writeEntryFiles(root, "foo_bar.x", {});  // broken: the schedule overrides Uninstall
  root.write("/ram/pdb/foobarx/schedule", "enable\n");
  writeEntryFiles(root, "gone", {{"version", ok}});
  root.write("/ram/pdb/gone/schedule", "  uninstall extra");
  writeEntryFiles(root, "off", {{"version", ok}, {"enabled", ""}});
  root.write("/ram/pdb/off/schedule", "disable");
  writeEntryFiles(root, "odd", {{"version", ok}});
  root.write("/ram/pdb/odd/schedule", "Enable\n");
  writeEntryFiles(root, "holder", {{"version", "4294967295 4294967295\n"}});
  root.write("/ram/pdb/holder/schedule", "uninstall\n");

  EXPECT_TRUE(withLoaded(root, [](Repository& repository, const std::string&) {
    auto state = [&](const std::string& name) {
      Package* p = repository.findInstalled(name);
      EXPECT_NE(p, nullptr) << name;
      if (p == nullptr) return std::string("?");
      return std::string(p->disabled ? "disabled" : "enabled") + (p->byUser ? "/user" : "/auto") + "/" +
             actionName(p->action);
    };
    EXPECT_EQ(state("auto"), "disabled/auto/");
    EXPECT_EQ(state("autonl"), "disabled/auto/");
    EXPECT_EQ(state("autox"), "disabled/user/");
    EXPECT_EQ(state("user"), "disabled/user/");
    EXPECT_EQ(state("empty"), "disabled/user/");
    EXPECT_EQ(state("both"), "disabled/auto/");
    EXPECT_EQ(state("enabled"), "enabled/user/");
    EXPECT_EQ(state("plain"), "enabled/auto/");
    EXPECT_EQ(state("foo_bar.x"), "enabled/user/enable");
    EXPECT_EQ(state("gone"), "enabled/auto/uninstall");
    EXPECT_EQ(state("off"), "enabled/user/disable");
    EXPECT_EQ(state("odd"), "enabled/auto/");
    // A placeholder never takes a scheduled action.
    EXPECT_EQ(state("holder"), "enabled/auto/");
  }));
}

TEST(Loader, ImagesComeFirstAndBundleMembersPrecedeTheirBundle) {
  ScratchRoot root;
  qpk::PackageSpec fromImage = spec("imaged", kV6469);
  fromImage.note = "from the image";
  fromImage.architecture = "mipsbe";
  fromImage.dependencies = {{"system", kV1, 0, 0}};
  fromImage.provides = {{"feature", 1, 0, 3}};
  fromImage.conflicts = {{"rival", 0, 0, 0}};
  fromImage.blob = "opaque";
  fromImage.flags = 1;
  root.write("/flash/var/pdb/imaged/image", image(fromImage));
  // Small files next to a good image are not read, but for the file list:
  // the files the entry installed must still go when it is uninstalled.
  writeEntryFiles(root, "imaged", {{"version", "5 5\n"}, {"deps", "junk"}, {"files", "bin/z\n"}, {"bundle", "b\n"}});

  qpk::BundleSpec bundle;
  bundle.name = "suite";
  bundle.version = kV7b4;
  bundle.buildTime = 77;
  bundle.note = "the suite";
  bundle.members = {spec("m1", kV1), spec("m2", kV6469), spec("m3", kV7b4)};
  root.write("/flash/var/pdb/suite/image", bundleImage(bundle));
  writeEntryFiles(root, "m1", {{"bundle", "suite\n"}});
  writeEntryFiles(root, "m2", {{"bundle", "suite\n"}, {"disabled", "user\n"}});
  writeEntryFiles(root, "m3", {{"bundle", "suite\n"}});

  writeEntryFiles(root, "small", {{"version", "16777216 0\n"}, {"files", "x\n"}});
  writeEntryFiles(root, "twice", {{"version", "1 1\n"}});
  root.write("/flash/var/pdb/twice/image", image(spec("twice", kV1)));
  root.write("/rw/pckg/.images/twice", image(spec("twice", kV6469)));
  root.write("/rw/pckg/.images/small", image(spec("small", kV7b4)));

  std::vector<std::string> order = listingOrder(root);
  std::vector<std::string> expected;
  for (const std::string& name : order) {
    if (name == "suite") {
      expected.insert(expected.end(), {"m1", "m2", "m3", "suite"});
    } else if (name == "imaged" || name == "twice") {
      expected.push_back(name);
    }
  }
  for (const std::string& name : order) {
    if (name == "twice" || name == "small") expected.push_back(name);
  }
  // The members' own directories add nothing: their names are found.

  EXPECT_TRUE(withLoaded(root, [&expected](Repository& repository, const std::string& console) {
    EXPECT_EQ(console, "");
    EXPECT_EQ(namesOf(repository), expected);

    Package* imaged = repository.findInstalled("imaged");
    EXPECT_EQ(imaged->version, kV6469);
    EXPECT_EQ(imaged->buildTime, kBuilt);
    EXPECT_EQ(imaged->note, "from the image");
    EXPECT_EQ(imaged->flags, 1u);
    // Header parts only: no architecture, no blob flag.
    EXPECT_EQ(imaged->architecture, "i386");
    EXPECT_FALSE(imaged->hasBlob);
    ASSERT_EQ(imaged->dependencies.size(), 1u);
    EXPECT_EQ(imaged->dependencies[0].minVersion, kV1);
    ASSERT_EQ(imaged->provides.size(), 1u);
    EXPECT_EQ(imaged->provides[0].priority, 3);
    EXPECT_EQ(imaged->conflicts.size(), 1u);
    EXPECT_EQ(imaged->files, (FileSet{"/bin/z"}));
    EXPECT_TRUE(imaged->bundle.name.empty());
    EXPECT_FALSE(imaged->isBundle);
    EXPECT_EQ(imaged->action, PendingAction::None);

    Package* suite = repository.findInstalled("suite");
    EXPECT_TRUE(suite->isBundle);
    EXPECT_EQ(suite->version, kV7b4);
    EXPECT_EQ(suite->note, "the suite");
    for (const char* name : {"m1", "m2", "m3"}) {
      Package* member = repository.findInstalled(name);
      EXPECT_EQ(member->bundle.name, "suite");
      EXPECT_EQ(member->bundle.minVersion, kV7b4);
      EXPECT_EQ(member->bundle.maxVersion, kV7b4);
      EXPECT_EQ(member->action, PendingAction::None) << name;
    }
    EXPECT_EQ(repository.findInstalled("m2")->version, kV6469);
    EXPECT_TRUE(repository.findInstalled("m2")->disabled);

    // Two records of one name: the entry's image, then the images directory's.
    int first = repository.indexOfInstalled("twice");
    ASSERT_GE(first, 0);
    auto second = std::find_if(repository.packages.begin() + first + 1, repository.packages.end(),
                               [](const auto& p) { return p->name == "twice"; });
    ASSERT_NE(second, repository.packages.end());
    EXPECT_EQ(repository.packages[first]->version, kV1);
    EXPECT_EQ((*second)->version, kV6469);

    // "small" has only an image in the images directory.
    EXPECT_EQ(repository.findInstalled("small")->version, kV7b4);
  }));
}

TEST(Loader, CorruptImagesNeverCrashAndFallBackToSmallFiles) {
  ScratchRoot root;
  const std::string good = image(spec("cut", kV6469));
  const std::string ok = "16777216 9\n";
  // Cut inside the header part: no readable header, the small files count.
  root.write("/flash/var/pdb/cut/image", good.substr(0, 30));
  writeEntryFiles(root, "cut", {{"version", ok}, {"files", "a\n"}});

  std::string badMagic = good;
  badMagic[0] = 'X';
  root.write("/flash/var/pdb/magic/image", badMagic);
  writeEntryFiles(root, "magic", {{"version", ok}});

  root.write("/flash/var/pdb/short/image", good.substr(0, 5));
  writeEntryFiles(root, "short", {{"version", ok}});

  // A header, then a note part that claims nearly 4 GiB.
  qpk::PartWriter huge;
  huge.part(PartHeader, qpk::encodeHeader("huge", kV1, 3, 0, true));
  huge.raw(std::string("\x17\x00\xf0\xff\xff\xff", 6) + "short note");
  root.write("/flash/var/pdb/huge/image", huge.finishWithLength(PackageMagic, 0xFFFFFFF0u));

  // A relation list that claims 65535 entries and holds one.
  qpk::PartWriter manyRelations;
  manyRelations.part(PartHeader, qpk::encodeHeader("many", kV1, 3, 0, true));
  manyRelations.part(PartDependencies, std::string("\xff\xff", 2) + std::string(32, 'r'));
  root.write("/flash/var/pdb/many/image", manyRelations.finish());

  // A bundle whose second member header is cut short must end the member list.
  qpk::PartWriter stuck;
  stuck.part(PartBundleHeader, qpk::encodeHeader("stuck", kV1, 3, 0, true));
  stuck.part(PartHeader, qpk::encodeHeader("s1", kV1, 3, 0, true));
  stuck.part(PartHeader, "tiny");
  root.write("/flash/var/pdb/stuck/image", stuck.finish());

  // A header naming the database's parent: such a record owns no entry.
  qpk::PartWriter dots;
  dots.part(PartHeader, qpk::encodeHeader("..", kV1, 3, 0, true));
  root.write("/flash/var/pdb/dots/image", dots.finish());
  root.write("/flash/var/disabled", "user\n");

  // Garbage in the small files: an endless word, an endless line.
  writeEntryFiles(root, "garbage",
                  {{"version", ok}, {"deps", std::string(1 << 20, 'w')}, {"files", std::string(1 << 20, 'f') + "\nok\n"}});

  EXPECT_TRUE(withLoaded(root, [](Repository& repository, const std::string& console) {
    EXPECT_EQ(console, "");
    for (const char* name : {"cut", "magic", "short"}) {
      Package* p = repository.findInstalled(name);
      ASSERT_NE(p, nullptr) << name;
      EXPECT_EQ(p->version, 16777216u) << name;
      EXPECT_EQ(p->buildTime, 9u) << name;
      EXPECT_EQ(p->action, PendingAction::None) << name;
    }
    EXPECT_EQ(repository.findInstalled("cut")->files, (FileSet{"/a"}));

    Package* huge = repository.findInstalled("huge");
    ASSERT_NE(huge, nullptr);
    EXPECT_EQ(huge->version, kV1);
    ASSERT_NE(repository.findInstalled("many"), nullptr);

    ASSERT_NE(repository.findInstalled("stuck"), nullptr);
    EXPECT_TRUE(repository.findInstalled("stuck")->isBundle);
    ASSERT_NE(repository.findInstalled("s1"), nullptr);
    EXPECT_EQ(repository.findInstalled("s1")->bundle.name, "stuck");

    Package* dots = repository.findInstalled("..");
    ASSERT_NE(dots, nullptr);
    EXPECT_FALSE(dots->disabled);  // "/flash/var/disabled" is not its state file
    // "dots" itself has no record from its image, so it is loaded as broken.
    EXPECT_EQ(repository.findInstalled("dots")->action, PendingAction::Uninstall);

    Package* garbage = repository.findInstalled("garbage");
    EXPECT_EQ(garbage->action, PendingAction::Uninstall);
    EXPECT_EQ(garbage->files, (FileSet{"/ok"}));
  }));
}
