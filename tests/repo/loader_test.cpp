// Loading the package database in a chrooted child of a scratch root: load
// order, broken entries, state files and schedules, and corrupt images that
// must never crash the loader.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "console/messages.h"
#include "repo/repository.h"
#include "support/fixtures.h"

using namespace fixtures;

namespace {

const std::string kOk = "16777216 5\n";  // version 1.0, built at 5

// Runs fn on a freshly opened repository inside the scratch root; the
// console must stay silent.
bool withLoaded(const ScratchRoot& root, const std::function<void(Repository&)>& fn,
                const std::string& console = "") {
  return root.runInside([&] {
    std::ostringstream out;
    setConsoleStream(&out);
    Repository& repository = Repository::instance();
    repository.reset();
    repository.open("i386", false);
    fn(repository);
    EXPECT_EQ(out.str(), console);
  });
}

std::string image(const std::string& name, const char* versionText) {
  qpk::PackageSpec s = spec(name, versionText, {file("bin/" + name, name)});
  s.buildTime = 77;
  return build(s);
}

TEST(Loader, MissingDatabaseDirectoryWarnsAndLoadsNothing) {
  ScratchRoot root;
  EXPECT_TRUE(withLoaded(root, [](Repository& repository) { EXPECT_TRUE(repository.packages.empty()); }));
  ASSERT_EQ(0, ::rmdir(root.host("/flash/var/pdb").c_str()));
  // An image in the images directory is never looked at without its entry.
  root.write("/rw/pckg/.images/a", image("a", "1.0"));
  EXPECT_TRUE(withLoaded(
      root, [](Repository& repository) { EXPECT_TRUE(repository.packages.empty()); }, "WARNING: could not open repo\n"));
}

TEST(Loader, BrokenEntriesAreMarkedForUninstall) {
  ScratchRoot root;
  writeEntry(root, "bare", {});
  writeEntry(root, "badversion", {{"version", "1.0 7\n"}, {"files", "bin/x\n"}});
  writeEntry(root, "baddeps", {{"version", kOk}, {"deps", "a 1 2 b"}});  // tokens in threes: "b" has no numbers
  writeEntry(root, "badprio", {{"version", kOk}, {"provides", "p 1 2 high\n"}});
  writeEntry(root, "orphan", {{"version", kOk}, {"bundle", "big\n"}});
  // Garbage: an endless word, an endless line.
  writeEntry(root, "garbage",
             {{"version", kOk}, {"deps", std::string(1 << 20, 'w')}, {"files", std::string(1 << 20, 'f') + "\nok\n"}});
  writeEntry(root, "good", {{"version", kOk}, {"deps", "x 0 0\ny 3 4\n"}, {"provides", "p 1 0 -2\n"},
                            {"conflicts", "z 0 9\n"}, {"bundle", "   \n"}, {"files", "bin/x\n/bin/x\n\nlib/y"}});
  EXPECT_TRUE(withLoaded(root, [](Repository& repository) {
    ASSERT_EQ(repository.packages.size(), 7u);
    for (const char* name : {"bare", "badversion", "baddeps", "badprio", "orphan", "garbage"}) {
      EXPECT_EQ(repository.findInstalled(name)->action, PendingAction::Uninstall) << name;
    }
    EXPECT_TRUE(repository.findInstalled("bare")->isBundle);
    Package* baddeps = repository.findInstalled("baddeps");
    ASSERT_EQ(baddeps->dependencies.size(), 1u);
    EXPECT_EQ(baddeps->dependencies[0].maxVersion, 2u);
    EXPECT_EQ(repository.findInstalled("orphan")->bundle.name, "big");
    EXPECT_EQ(repository.findInstalled("garbage")->files, (FileSet{"/ok"}));
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
  const std::map<std::string, std::map<std::string, std::string>> entries = {
      {"auto", {{"disabled", "auto\n"}}}, {"autonl", {{"disabled", "auto"}}}, {"autox", {{"disabled", "autox\n"}}},
      {"user", {{"disabled", "user\n"}}}, {"empty", {{"disabled", ""}}}, {"enabled", {{"enabled", ""}}},
      {"both", {{"disabled", "auto\n"}, {"enabled", "user\n"}}}, {"plain", {}}, {"gone", {}}, {"odd", {}},
      {"off", {{"enabled", ""}}}, {"holder", {{"version", "4294967295 4294967295\n"}}}};
  for (auto [name, files] : entries) {
    files.emplace("version", kOk);
    writeEntry(root, name, files);
  }
  // Schedule files are found by the name with every byte but [A-Za-z0-9-]
  // removed; a schedule overrides the Uninstall of a broken entry.
  writeEntry(root, "foo_bar.x", {});
  root.write("/ram/pdb/foobarx/schedule", "enable\n");
  root.write("/ram/pdb/gone/schedule", "  uninstall extra");
  root.write("/ram/pdb/off/schedule", "disable");
  root.write("/ram/pdb/odd/schedule", "Enable\n");
  root.write("/ram/pdb/holder/schedule", "uninstall\n");  // a placeholder never takes one
  EXPECT_TRUE(withLoaded(root, [](Repository& repository) {
    const std::pair<const char*, const char*> expected[] = {
        {"auto", "disabled/auto/"}, {"autonl", "disabled/auto/"}, {"autox", "disabled/user/"},
        {"user", "disabled/user/"}, {"empty", "disabled/user/"}, {"both", "disabled/auto/"},
        {"enabled", "enabled/user/"}, {"plain", "enabled/auto/"}, {"foo_bar.x", "enabled/user/enable"},
        {"gone", "enabled/auto/uninstall"}, {"off", "enabled/user/disable"}, {"odd", "enabled/auto/"},
        {"holder", "enabled/auto/"}};
    for (const auto& [name, state] : expected) {
      Package* p = repository.findInstalled(name);
      ASSERT_NE(p, nullptr) << name;
      EXPECT_EQ(std::string(p->disabled ? "disabled" : "enabled") + (p->byUser ? "/user/" : "/auto/") +
                    actionName(p->action),
                state)
          << name;
    }
  }));
}

TEST(Loader, ImagesComeFirstAndBundleMembersPrecedeTheirBundle) {
  ScratchRoot root;
  qpk::PackageSpec fromImage = spec("imaged", "6.46.9");
  fromImage.note = "from the image";
  fromImage.architecture = "mipsbe";
  fromImage.dependencies = {relation("system", "1.0")};
  fromImage.provides = {{"feature", 1, 0, 3}};
  fromImage.blob = "opaque";
  fromImage.flags = 1;
  root.write("/flash/var/pdb/imaged/image", build(fromImage));
  // Small files next to a good image are not read, but for the file list:
  // the files the entry installed must still go when it is uninstalled.
  writeEntry(root, "imaged", {{"version", "5 5\n"}, {"deps", "junk"}, {"files", "bin/z\n"}, {"bundle", "b\n"}});
  qpk::BundleSpec suite = bundle("suite", "7.1beta4", {spec("m1", "1.0"), spec("m2", "6.46.9"), spec("m3", "7.1beta4")});
  suite.note = "the suite";
  root.write("/flash/var/pdb/suite/image", buildBundle(suite));
  writeEntry(root, "m1", {{"bundle", "suite\n"}});
  writeEntry(root, "m2", {{"bundle", "suite\n"}, {"disabled", "user\n"}});
  writeEntry(root, "m3", {{"bundle", "suite\n"}});
  // Two records of one name: the entry's image, then the images directory's.
  writeEntry(root, "small", {{"version", "16777216 0\n"}, {"files", "x\n"}});
  writeEntry(root, "twice", {{"version", "1 1\n"}});
  root.write("/flash/var/pdb/twice/image", image("twice", "1.0"));
  root.write("/rw/pckg/.images/twice", image("twice", "6.46.9"));
  root.write("/rw/pckg/.images/small", image("small", "7.1beta4"));
  std::vector<std::string> expected, order = listingOrder(root);
  for (const std::string& name : order) {
    if (name == "suite") expected.insert(expected.end(), {"m1", "m2", "m3", "suite"});
    if (name == "imaged" || name == "twice") expected.push_back(name);
  }
  for (const std::string& name : order) {
    if (name == "twice" || name == "small") expected.push_back(name);
  }
  EXPECT_TRUE(withLoaded(root, [&expected](Repository& repository) {
    std::vector<std::string> names;
    for (const auto& p : repository.packages) names.push_back(p->name);
    EXPECT_EQ(names, expected);  // the members' own directories add nothing
    Package* imaged = repository.findInstalled("imaged");
    EXPECT_EQ(versionText(imaged->version), "6.46.9");
    EXPECT_EQ(imaged->buildTime, 1000u);
    EXPECT_EQ(imaged->note, "from the image");
    EXPECT_EQ(imaged->flags, 1u);
    EXPECT_EQ(imaged->architecture, "i386");  // header parts only: no architecture, no blob flag
    EXPECT_FALSE(imaged->hasBlob);
    ASSERT_EQ(imaged->dependencies.size(), 1u);
    EXPECT_EQ(imaged->provides.at(0).priority, 3);
    EXPECT_EQ(imaged->files, (FileSet{"/bin/z"}));
    EXPECT_TRUE(imaged->bundle.name.empty());
    Package* suite = repository.findInstalled("suite");
    EXPECT_TRUE(suite->isBundle);
    EXPECT_EQ(suite->note, "the suite");
    for (const char* name : {"m1", "m2", "m3"}) {
      Package* member = repository.findInstalled(name);
      EXPECT_EQ(member->bundle.name, "suite");
      EXPECT_EQ(member->bundle.minVersion, suite->version);
      EXPECT_EQ(member->bundle.maxVersion, suite->version);
      EXPECT_EQ(member->action, PendingAction::None) << name;
    }
    EXPECT_EQ(versionText(repository.findInstalled("m2")->version), "6.46.9");
    EXPECT_TRUE(repository.findInstalled("m2")->disabled);
    int first = repository.indexOfInstalled("twice");
    ASSERT_GE(first, 0);
    auto second = std::find_if(repository.packages.begin() + first + 1, repository.packages.end(),
                               [](const auto& p) { return p->name == "twice"; });
    ASSERT_NE(second, repository.packages.end());
    EXPECT_EQ(versionText(repository.packages[first]->version), "1.0");
    EXPECT_EQ(versionText((*second)->version), "6.46.9");
    EXPECT_EQ(versionText(repository.findInstalled("small")->version), "7.1beta4");
  }));
}

TEST(Loader, CorruptImagesNeverCrashAndFallBackToSmallFiles) {
  ScratchRoot root;
  const std::string good = image("cut", "6.46.9");
  std::string badMagic = good;
  badMagic[0] = 'X';
  // Cut inside the header part, a foreign magic, too short for a file header.
  for (const auto& [name, bytes] : {std::pair{"cut", good.substr(0, 30)}, std::pair{"magic", badMagic},
                                    std::pair{"short", good.substr(0, 5)}}) {
    root.write(std::string("/flash/var/pdb/") + name + "/image", bytes);
    writeEntry(root, name, {{"version", kOk}, {"files", "a\n"}});
  }
  // A note part that claims nearly 4 GiB; a relation list claiming 65535 entries.
  qpk::PartWriter huge, many, stuck, dots;
  huge.part(PartHeader, qpk::encodeHeader("huge", 1, 3, 0, true));
  huge.raw(std::string("\x17\x00\xf0\xff\xff\xff", 6) + "short note");
  root.write("/flash/var/pdb/huge/image", huge.finishWithLength(PackageMagic, 0xFFFFFFF0u));
  many.part(PartHeader, qpk::encodeHeader("many", 1, 3, 0, true));
  many.part(PartDependencies, std::string("\xff\xff", 2) + std::string(32, 'r'));
  root.write("/flash/var/pdb/many/image", many.finish());
  // A bundle whose second member header is cut short must end the member list.
  stuck.part(PartBundleHeader, qpk::encodeHeader("stuck", 1, 3, 0, true));
  stuck.part(PartHeader, qpk::encodeHeader("s1", 1, 3, 0, true));
  stuck.part(PartHeader, "tiny");
  root.write("/flash/var/pdb/stuck/image", stuck.finish());
  // A header naming the database's parent: such a record owns no entry.
  dots.part(PartHeader, qpk::encodeHeader("..", 1, 3, 0, true));
  root.write("/flash/var/pdb/dots/image", dots.finish());
  root.write("/flash/var/disabled", "user\n");
  EXPECT_TRUE(withLoaded(root, [](Repository& repository) {
    for (const char* name : {"cut", "magic", "short"}) {
      Package* p = repository.findInstalled(name);
      ASSERT_NE(p, nullptr) << name;
      EXPECT_EQ(p->buildTime, 5u) << name;
      EXPECT_EQ(p->action, PendingAction::None) << name;
      EXPECT_EQ(p->files, (FileSet{"/a"}));
    }
    for (const char* name : {"huge", "many", "stuck", "s1"}) ASSERT_NE(repository.findInstalled(name), nullptr) << name;
    EXPECT_TRUE(repository.findInstalled("stuck")->isBundle);
    EXPECT_EQ(repository.findInstalled("s1")->bundle.name, "stuck");
    ASSERT_NE(repository.findInstalled(".."), nullptr);
    EXPECT_FALSE(repository.findInstalled("..")->disabled);  // "/flash/var/disabled" is not its state file
    // "dots" itself has no record from its image, so it is loaded as broken.
    EXPECT_EQ(repository.findInstalled("dots")->action, PendingAction::Uninstall);
  }));
}

}  // namespace
