// The package database in scratch roots: loading entries, schedules and images, good or corrupt
// (each record compared whole); "--show", byte-exact; the post-install log; writing entries back.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <sstream>

#include "console/messages.h"
#include "repo/entry_directory.h"
#include "repo/entry_writer.h"
#include "repo/package_entry.h"
#include "repo/repository.h"
#include "support/fixtures.h"

using namespace fixtures;

namespace {

const std::string kOk = "16777216 5\n";  // a version, built at 5

std::string relations(const char* label, const std::vector<Relation>& list) {
  std::string out = list.empty() ? "" : std::string(" ") + label;
  for (const Relation& r : list) {
    out += " " + r.name + ":" + std::to_string(r.minVersion) + ":" + std::to_string(r.maxVersion);
    if (r.priority != 0) out += ":" + std::to_string(r.priority);
  }
  return out;
}

// What the loader made of a record, on one line.
std::string describe(const Package& p) {
  std::ostringstream out;
  out << p.name << " " << versionText(p.version) << "@" << p.buildTime << " "
      << (p.action == PendingAction::None ? "-" : actionName(p.action)) << (p.disabled ? " off/" : " on/")
      << (p.byUser ? "user" : "auto") << (p.isBundle ? " bundle" : "") << (p.hasBlob ? " blob" : "");
  if (p.flags != 0) out << " flags " << p.flags;
  if (!p.note.empty()) out << " note " << p.note;
  if (!p.architecture.empty()) out << " for " << p.architecture;
  if (!p.bundle.name.empty()) {
    out << " in " << p.bundle.name << ":" << versionText(p.bundle.minVersion) << "-" << versionText(p.bundle.maxVersion);
  }
  out << relations("deps", p.dependencies) << relations("provides", p.provides) << relations("conflicts", p.conflicts);
  for (const std::string& file : p.files) out << " " << file;
  return out.str();
}

// Opens the database inside the scratch root: every record described, sorted.
using Records = std::vector<std::string>;
Records loaded(const ScratchRoot& root) {
  EXPECT_TRUE(root.runInside([] {
    std::ostringstream out;
    setConsoleStream(&out);
    Repository::instance().open("i386", false);
    std::string lines;
    for (const auto& p : Repository::instance().packages) lines += describe(*p) + "\n";
    writeFile("/tmp/loaded", lines);
  }));
  Records records;
  std::istringstream in(root.read("/tmp/loaded"));
  for (std::string line; std::getline(in, line);) records.push_back(line);
  std::sort(records.begin(), records.end());
  return records;
}

TEST(Loader, EntryFilesStateFilesAndScheduleWords) {
  ScratchRoot root;
  const std::map<std::string, std::map<std::string, std::string>> entries = {
      // Junk in any entry file marks the package for removal.
      {"bare", {}},
      {"badversion", {{"version", "1.0 7\n"}, {"files", "bin/x\n"}}},
      {"baddeps", {{"version", kOk}, {"deps", "a 1 2 b"}}},  // tokens in threes: "b" has no numbers
      {"badprio", {{"version", kOk}, {"provides", "p 1 2 high\n"}}},
      {"orphan", {{"version", kOk}, {"bundle", "big\n"}}},  // a member without its bundle's image
      {"garbage", {{"version", kOk}, {"deps", std::string(1 << 20, 'w')}, {"files", std::string(1 << 20, 'f') + "\nok\n"}}},
      // Lines with and without the leading "/" collapse; the last line needs no newline.
      {"good", {{"version", kOk}, {"deps", "x 0 0\ny 3 4\n"}, {"provides", "p 1 0 -2\n"}, {"conflicts", "z 0 9\n"},
                {"bundle", "   \n"}, {"files", "bin/x\n/bin/x\n\nlib/y"}}},
      // "disabled" is "auto" only for exactly that first line; it beats "enabled".
      {"auto", {{"version", kOk}, {"disabled", "auto\n"}}}, {"autonl", {{"version", kOk}, {"disabled", "auto"}}},
      {"autox", {{"version", kOk}, {"disabled", "autox\n"}}},
      {"both", {{"version", kOk}, {"disabled", "auto\n"}, {"enabled", "user\n"}}},
      // Schedules go by the name kept to [A-Za-z0-9-], override a broken entry's removal; junk does nothing.
      {"foo_bar.x", {}}, {"gone", {{"version", kOk}}}, {"off", {{"version", kOk}, {"enabled", ""}}},
      {"odd", {{"version", kOk}}}, {"junk", {{"version", kOk}}},
      {"holder", {{"version", "4294967295 4294967295\n"}}},  // a placeholder never takes one
  };
  for (const auto& [name, files] : entries) writeEntry(root, name, files);
  for (const auto& [name, word] : std::map<std::string, std::string>{
           {"foobarx", "enable\n"}, {"gone", "  uninstall extra"}, {"off", "disable"}, {"odd", "Enable\n"},
           {"junk", "uninstall" + std::string(300, 'x') + "\n\xff"}, {"holder", "uninstall\n"}}) {
    root.write("/ram/pdb/" + name + "/schedule", word);
  }
  EXPECT_EQ(loaded(root),
            (Records{"auto 1.0@5 - off/auto bundle", "autonl 1.0@5 - off/auto bundle",
                     "autox 1.0@5 - off/user bundle", "baddeps 1.0@5 uninstall on/auto bundle deps a:1:2",
                     "badprio 1.0@5 uninstall on/auto bundle", "badversion 0.0@0 uninstall on/auto /bin/x",
                     "bare 0.0@0 uninstall on/auto bundle", "both 1.0@5 - off/auto bundle",
                     "foo_bar.x 0.0@0 enable on/user bundle", "garbage 1.0@5 uninstall on/auto /ok",
                     "gone 1.0@5 uninstall on/auto bundle",
                     "good 1.0@5 - on/auto deps x:0:0 y:3:4 provides p:1:0:-2 conflicts z:0:9 /bin/x /lib/y",
                     "holder 255.255255@4294967295 - on/auto bundle", "junk 1.0@5 - on/auto bundle",
                     "odd 1.0@5 - on/auto bundle", "off 1.0@5 disable on/user bundle",
                     "orphan 1.0@5 uninstall on/auto bundle in big:0.0-0.0"}));
}

// Images give header parts only (not architecture nor blob flag), small files the file list alone; a
// bundle's image gives its members. Cut, foreign or lying images fall back to the entry's small files.
TEST(Loader, ImagesAndCorruptImages) {
  ScratchRoot root;
  qpk::PackageSpec fromImage = spec("imaged", "6.46.9");
  fromImage.note = "from the image";
  fromImage.architecture = "mipsbe";
  fromImage.dependencies = {relation("system", "1.0")};
  fromImage.provides = {{"feature", 1, 0, 3}};
  fromImage.blob = "opaque";
  fromImage.flags = 1;
  root.write("/flash/var/pdb/imaged/image", build(fromImage));
  writeEntry(root, "imaged", {{"version", "5 5\n"}, {"deps", "junk"}, {"files", "bin/z\n"}, {"bundle", "b\n"}});
  qpk::BundleSpec suite = bundle("suite", "7.1beta4", {spec("m1", "1.0"), spec("m2", "6.46.9")});
  suite.note = "the suite";
  root.write("/flash/var/pdb/suite/image", buildBundle(suite));
  writeEntry(root, "m1", {{"bundle", "suite\n"}, {"files", "bin/m1\n"}});
  writeEntry(root, "m2", {{"bundle", "suite\n"}, {"disabled", "user\n"}});
  const std::string good = build(spec("cut", "6.46.9", {file("bin/cut", "cut")}));
  // Cut inside the header part, a foreign magic, too short for a file header.
  for (const auto& [name, bytes] : {std::pair{"cut", good.substr(0, 30)}, std::pair{"magic", "X" + good.substr(1)},
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
  // A header naming the database's parent owns no entry: "/flash/var/disabled" is not its state file.
  dots.part(PartHeader, qpk::encodeHeader("..", 1, 3, 0, true));
  root.write("/flash/var/pdb/dots/image", dots.finish());
  root.write("/flash/var/disabled", "user\n");
  EXPECT_EQ(loaded(root),
            (Records{".. 0.01@3 - on/auto for i386", "cut 1.0@5 - on/auto /a", "dots 0.0@0 uninstall on/auto bundle",
                     "huge 0.01@3 - on/auto note short note for i386",
                     "imaged 6.46.9@1000 - on/auto flags 1 note from the image for i386 deps system:16803328:0 "
                     "provides feature:1:0:3 /bin/z",
                     "m1 1.0@1000 - on/auto for i386 in suite:7.1beta4-7.1beta4 /bin/m1",
                     "m2 6.46.9@1000 - off/user for i386 in suite:7.1beta4-7.1beta4", "magic 1.0@5 - on/auto /a",
                     "many 0.01@3 - on/auto for i386 deps rrrrrrrrrrrrrrrr:1920103026:1920103026:1920103026",
                     "s1 0.01@3 - on/auto for i386 in stuck:0.01-0.01", "short 1.0@5 - on/auto /a",
                     "stuck 0.01@3 - on/auto bundle for i386", "suite 7.1beta4@1000 - on/auto bundle note the suite for i386"}));
}

// A takeover reads a finished log (a cut last line is dropped) and reserves 4096 zero bytes; writes append.
TEST(Postlog, TakeoverAppendAndTheReservedZeroBytes) {
  const struct {
    std::optional<std::string> before; bool takeOver;  // before none: no log yet
    std::vector<std::string> read, said;                // the lines taken over; what the run says
    std::optional<std::string> written;                 // none: the log is not touched
  } cases[] = {
      {"a\n\nb", true, {"a", ""}, {"x"}, "a\n\nx\n"},
      {std::string(4096, '\0'), true, {}, {"x"}, "x\n"},  // an interrupted run's reservation
      {std::nullopt, false, {}, {}, std::nullopt},
  };
  for (const auto& c : cases) {
    ScratchRoot root;
    if (c.before) root.write("/flash/postlog", *c.before);
    EXPECT_TRUE(root.runInside([&c] {
      Repository repository;
      if (c.takeOver) {
        repository.takeOverPostlog();
        EXPECT_EQ(repository.logLines, c.read);
        EXPECT_EQ(readFile(kPostlogPath), std::string(4096, '\0'));
      }
      repository.logLines.insert(repository.logLines.end(), c.said.begin(), c.said.end());
      repository.writePostlog();
      EXPECT_EQ(pathExists(kPostlogPath) ? std::optional(readFile(kPostlogPath)) : std::nullopt, c.written);
    })) << c.before.value_or("no log");
  }
}

constexpr uint32_t kBuilt = 1796508901;  // Dec/05/2026 22:15:01 UTC

qpk::PackageSpec built(const std::string& name, const char* versionText) {
  qpk::PackageSpec s = spec(name, versionText);
  s.buildTime = kBuilt;
  return s;
}

const std::string kBlank(41, ' ');

// Images in listing order (a bundle after its members), then the images directory's, then entries
// without an image; plain files in the database directory are left-overs. Nothing is written.
TEST(Listing, ShowIsByteExactForImagesBundlesAndSmallFiles) {
  ScratchRoot root;
  qpk::PackageSpec imaged = built("imaged", "6.46.9");
  imaged.note = "from the image, longer than its column: written whole";
  root.write("/flash/var/pdb/imaged/image", build(imaged));
  qpk::BundleSpec suite = bundle("suite", "7.1beta4", {built("m1", "1.0"), built("m2", "6.46.9")});
  suite.buildTime = 0;
  suite.note = "the suite";
  root.write("/flash/var/pdb/suite/image", buildBundle(suite));
  writeEntry(root, "m1", {{"bundle", "suite\n"}});
  writeEntry(root, "m2", {{"bundle", "suite\n"}, {"disabled", "user\n"}});
  const std::string v12 = std::to_string(makeVersion(1, 2, Final, 0));
  writeEntry(root, "small", {{"version", v12 + " 4294967295\n"}, {"files", "bin/small\n"}});  // unsigned
  root.write("/ram/pdb/small/schedule", "uninstall\n");  // listed all the same
  writeEntry(root, "late", {{"version", v12 + " 0\n"}, {"files", ""}});
  root.write("/rw/pckg/.images/late", build(built("late", "2.0")));
  root.write("/flash/var/pdb/image", build(spec("ghost", "1.0")));

  const std::map<std::string, std::string> rows = {
      {"imaged", "          imaged           6.46.9 Dec/05/2026 22:15:01 "
                 "from the image, longer than its column: written whole\n"},
      {"m1", "              m1  B           1.0 Dec/05/2026 22:15:01" + kBlank + "\n"},
      {"m2", "              m2 XB        6.46.9 Dec/05/2026 22:15:01" + kBlank + "\n"},
      {"suite", "           suite         7.1beta4 Jan/01/1970 00:00:00                                the suite\n"},
      {"small", "           small              1.2 Feb/07/2106 06:28:15" + kBlank + "\n"},
      {"late", "            late              2.0 Dec/05/2026 22:15:01" + kBlank + "\n"},
  };
  std::string expected =
      "            Name          Version                Built                                    Note\n" + std::string(94, '-') + "\n";
  for (const std::string& name : listingOrder(root)) {
    if (name == "suite") expected += rows.at("m1") + rows.at("m2") + rows.at("suite");
    if (name == "imaged") expected += rows.at(name);
  }
  RunResult result = root.run({"--show"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, expected + rows.at("late") + rows.at("small"));
  EXPECT_FALSE(root.exists("/flash/postlog") || root.exists("/flash/PCKGS_CHANGED"));
}

const std::string kEntry = "/flash/var/pdb/foo/";
constexpr Version kV1 = makeVersion(1, 0, Final, 0);

Package fooPackage() {
  Package p("foo");
  p.version = makeVersion(6, 46, Final, 9);
  p.buildTime = 5;
  return p;
}

using View = std::map<std::string, std::string>;

// The staged view, relative to the entry directory; every entry file keeps the owner-only mode.
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
    const char* what; std::map<std::string, std::string> before;  // the entry's files
    std::function<void(Package&)> change; View staged;
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
      // Empty lists: "deps" is written empty, "provides" and "conflicts" are left alone.
      {"leftovers of an older state",
       {{"provides", "old 0 0 0\n"}, {"conflicts", "old 0 0\n"}, {"bundle", "suite\n"}, {"disabled", "auto\n"},
        {"enabled", "user\n"}},
       [](Package&) {},
       {{"version", "103704073 5\n"}, {"deps", ""}, {"bundle", "<remove>"}, {"files", ""}, {"disabled", "<remove>"},
        {"enabled", "<remove>"}}},
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

// Unusable names stage nothing; metadata the entry files cannot hold is refused before any staging.
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
      recordEnabled(Repository::instance(), {&p}, staged, false);
      EXPECT_FALSE(p.disabled);
      removeEntry(Repository::instance(), p, staged);
      EXPECT_TRUE(staged.empty()) << "'" << name << "' staged " << staged.begin()->first;
      EXPECT_TRUE(p.files.empty());
      EXPECT_EQ(p.action, PendingAction::None);
    }
    // A newline in a path would split it on the next load: the uninstall would remove a foreign file.
    for (int form = 0; form < 3; ++form) {
      Package p = fooPackage();
      if (form == 0) p.dependencies = {{"two words", 0, 0, 0}};
      if (form == 1) p.bundle = {"a\nb", 0, 0, 0};
      if (form == 2) p.files = {"/flash/x\n/flash/etc/passwd"};
      StagedChanges staged;
      EXPECT_FALSE(writeEntry(p, staged)) << form;
      EXPECT_TRUE(staged.empty()) << form;
    }
    std::string expected;
    for (const char* label : {"-1.0", ".-1.0", "..-1.0", "a/b-1.0", "../var-1.0", "/-1.0", "foo-6.46.9", "a\nb",
                              "foo-6.46.9"}) {
      expected += std::string("ERROR: installation of ") + label + " failed: broken package\n";
    }
    EXPECT_EQ(console.str(), expected);
  }));
}

// Stored paths that exist are removed, except inside the database; the boot image and the entry go too.
TEST(EntryWriter, RemoveEntryStagesStoredPathsAsTheyAre) {
  ScratchRoot root;
  for (const char* path : {"/flash/bin/x", "/flash/bootimage", "/flash/var/pdb/other/version"}) root.write(path, "x");
  writeEntry(root, "foo", {{"version", "1 1\n"}, {"image", "img"}});
  EXPECT_TRUE(root.runInside([] {
    Repository& repository = Repository::instance();
    Package& p = *repository.packages.emplace_back(std::make_unique<Package>(fooPackage()));
    p.files = {"/flash/bin/x", "/flash/bin/gone", "/flash/var/pdb/other/version"};
    p.flags = kFlagBootImage;
    p.action = PendingAction::Uninstall;
    StagedChanges staged;
    removeEntry(repository, p, staged);
    EXPECT_EQ(stagedView(staged), (View{{"/flash/bin/x", "<remove>"}, {"/flash/bootimage", "<remove>"},
                                        {"/flash/var/pdb/foo/", "<remove>"}, {"/flash/var/pdb/foo/image", "<remove>"}}));
    EXPECT_TRUE(p.files.empty());
    EXPECT_EQ(p.action, PendingAction::None);
  }));
}
