// Staging: temporaries go with their change and where there is room; the commit; the manifest.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "staging/atomic_writer.h"
#include "staging/commit.h"
#include "support/fixtures.h"

using namespace fixtures;

namespace {

TEST(StagedChanges, TemporariesGoWithTheChangeThatOwnsThem) {
  ScratchRoot root;
  const std::string d = root.host("/tmp/");
  for (const char* name : {"tmp1", "tmp2", "tmp3", "tmp4", "source", "old"}) writeFile(d + name, name);
  StagedChanges set;
  // Replaced: the temporary is deleted, a moved existing file is not ours (the final listing shows
  // both); a removal of an existing file replaces the write, of a missing path takes it back.
  stageChange(set, d + "a", ChangeKind::MoveTemporary, d + "tmp1");
  stageMove(set, d + "source", d + "a");
  EXPECT_EQ(set[d + "a"].kind, ChangeKind::MoveExisting);
  stageSymlink(set, "text", d + "a");
  stageChange(set, d + "old", ChangeKind::MoveTemporary, d + "tmp2");
  stageRemoval(set, d + "old");
  EXPECT_EQ(set[d + "old"].kind, ChangeKind::Remove);
  stageChange(set, d + "new", ChangeKind::MoveTemporary, d + "tmp3");
  stageRemoval(set, d + "new");
  EXPECT_EQ(set.count(d + "new"), 0u);
  ASSERT_EQ(symlink("nowhere", (d + "dangling").c_str()), 0);
  stageRemoval(set, d + "dangling");
  EXPECT_EQ(set.size(), 2u);
  stageChange(set, d + "b", ChangeKind::MoveTemporary, d + "tmp4");
  stageChange(set, d + "c", ChangeKind::MoveTemporary, d + "already-gone");
  discardChanges(set);
  EXPECT_TRUE(set.empty());
  EXPECT_EQ(listFolder(d), (std::vector<std::string>{"dangling", "old", "source"}));
}

// Runs fn chrooted to a scratch root whose "/flash" is a tmpfs of the given size ("/flash/boot" 1m).
bool onFlash(const std::string& size, const std::function<void()>& fn) {
  ScratchRoot root;
  return runIsolated(fn, {{root.host("/flash"), size}, {root.host("/flash/boot"), "1m"}}, root.path());
}

// The folder of the temporary openAtomic staged for target, or "refused".
std::string placed(StagedChanges& set, const std::string& target, uint32_t hint) {
  AtomicFile out;
  if (!openAtomic(out, set, target, hint, 0)) return set.count(target) ? "refused but staged" : "refused";
  return parentDirectory(set[target].data);
}

// On the target's file system when there is room (more than the hint and a spare 64 KiB, counting
// what the run took before), else on "/ram" (also for unknown sizes); the nearest ancestor decides.
TEST(AtomicWriter, TemporaryGoesWhereThereIsRoom) {
  EXPECT_TRUE(onFlash("1m", [] {
    StagedChanges set;
    EXPECT_EQ(placed(set, "/flash/PCKGS_CHANGED", 1), "/flash/.installer");
    EXPECT_EQ(placed(set, "/flash/unknown-size", 0), "/ram/.installer");
    mkdir("/flash/var", 0755);
    EXPECT_EQ(placed(set, "/flash/var/pdb/newpkg/version", 10), "/flash/.installer");
    EXPECT_EQ(placed(set, "/flash/boot/new/kernel", 10), "/flash/boot/.installer");
    EXPECT_EQ(placed(set, "/flash/boot/big", 1000 * 1024), "/ram/.installer");
    const uint32_t left = 1024 * 1024 - 11 - 65536;  // exactly that much is not enough
    EXPECT_EQ(placed(set, "/flash/big", left), "/ram/.installer");
    EXPECT_EQ(placed(set, "/flash/fits", left - 1), "/flash/.installer");
  }));
  // Exactly 4 GiB free: free blocks times block size wraps to 0 in 32 bits.
  EXPECT_TRUE(onFlash("4g", [] {
    StagedChanges set;
    EXPECT_EQ(placed(set, "/flash/file", 1000), "/flash/.installer");
  }));
}

using Names = std::vector<std::string>;

// Standard error of the commit, or the reason it was refused.
std::string committed(StagedChanges set) {
  ::testing::internal::CaptureStderr();
  CommitFailure failure;
  const bool done = commitChanges(set, false, &failure);
  const std::string err = ::testing::internal::GetCapturedStderr();
  if (!done) discardChanges(set);
  return done ? err : "refused: " + failure.what;
}

// Removals run first, take a folder's plain files only and fail silently. Moves keep the mode and
// make folders, links keep their text; a removed file may become a folder; a finish run keeps moves.
TEST(Commit, RemovalsRunBeforeMovesAndGoOneLevelDeep) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    const std::string d = "/tmp/";
    for (const char* dir : {"d", "e", "x", "x/sub", "y"}) mkdir((d + dir).c_str(), 0755);
    for (const char* name : {"d/old", "x/a", "x/.hidden", "x/sub/f", "y/version", "plain"}) writeFile(d + name, name);
    writeFile(d + "src", "moved in", 0750);
    StagedChanges set;
    // The move sorts first: one pass in key order would move the file in, then remove its folder.
    stageMove(set, d + "src", d + "d/new");
    stageRemoval(set, d + "e/../d");
    ASSERT_EQ(set.begin()->first, d + "d/new");
    stageRemoval(set, d + "x");
    stageRemoval(set, d + "y/");  // entry directories are staged with their "/"
    stageRemoval(set, d + "plain");
    stageSymlink(set, "relative text", d + "plain/deep/link");
    stageChange(set, d + "vanished", ChangeKind::Remove, "");
    EXPECT_EQ(committed(set), "");
    EXPECT_EQ(listFolder(d + "d"), Names{"new"});
    EXPECT_EQ(readFile(d + "d/new"), "moved in");
    EXPECT_EQ(fileMode(d + "d/new"), 0750u);
    EXPECT_EQ(readLink(d + "plain/deep/link"), "relative text");
    EXPECT_EQ(listFolder(d + "x"), (Names{".hidden", "sub"}));
    EXPECT_EQ(listFolder(d), (Names{"d", "e", "plain", "x"}));
    EXPECT_FALSE(pathExists("/flash/.installer/commit"));
    StagedChanges again;
    stageChange(again, d + "d/", ChangeKind::Remove, "");
    stageMove(again, d + "src", d + "d/new");
    finishCommit(again);
    EXPECT_EQ(listFolder(d + "d"), Names{"new"});
  }));
}

// A set that cannot be carried out whole is refused before anything changes.
TEST(Commit, WhatCannotBeCreatedIsRefusedBeforeAnyChange) {
  struct Row {
    std::string target; const char* source; std::string why;  // empty source: "/tmp/new2"
  };
  const std::string longName = "/tmp/" + std::string(256, 'n');
  const Row rows[] = {
      {"/tmp/file/x", "", "could not create /tmp/file/x: Not a directory"},  // a file where a folder is needed
      {"/tmp/folder", "", "could not create /tmp/folder: Is a directory"},   // a folder where a file goes
      {"/tmp/staged/x", "", "could not create /tmp/staged/x: Not a directory"},  // a file of the same set
      {"/tmp/missing", "/tmp/nowhere", "could not move /tmp/nowhere: No such file or directory"},
      {longName, "", "could not create " + longName + ": File name too long"},
  };
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([&] {
    writeFile("/tmp/file", "file");
    mkdir("/tmp/folder", 0755);
    writeFile("/tmp/old", "old");
    for (const Row& row : rows) {
      writeFile("/tmp/new", "new");
      StagedChanges set;
      stageChange(set, "/tmp/old", ChangeKind::Remove, "");
      stageMove(set, "/tmp/new", "/tmp/staged");
      stageMove(set, *row.source ? row.source : "/tmp/new2", row.target);
      if (!*row.source) writeFile("/tmp/new2", "new2");
      EXPECT_EQ(committed(set), "refused: " + row.why) << row.target;
      EXPECT_EQ(readFile("/tmp/old"), "old") << row.target;
      EXPECT_FALSE(pathExists("/tmp/staged")) << row.target;
    }
    EXPECT_FALSE(pathExists("/flash/.installer/commit"));
  }));
}

// Cross-device moves are copied (bytes, mode) before the point of no return, or refuse the commit whole.
TEST(Commit, CrossDeviceMovesAreCopiedBeforeTheCommit) {
  ScratchRoot root;
  EXPECT_TRUE(runIsolated(
      [] {
        const std::string d = "/tmp/";
        std::string big(100000, '\0');
        for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
        writeFile(d + "src", big, 02750);
        writeFile(d + "small", "small", 0600);
        writeFile(d + "mnt/t", "old", 0644);
        StagedChanges set;
        stageChange(set, d + "mnt/t", ChangeKind::MoveTemporary, d + "src");
        stageMove(set, d + "small", d + "mnt/new/sub/f");
        EXPECT_EQ(committed(set), "");
        EXPECT_EQ(readFile(d + "mnt/t"), big);
        EXPECT_EQ(fileMode(d + "mnt/t"), 02750u);
        EXPECT_EQ(readFile(d + "mnt/new/sub/f"), "small");
        EXPECT_EQ(fileMode(d + "mnt/new/sub/f"), 0600u);
        // A temporary of the set was copied and is gone; another's file stays.
        EXPECT_EQ(listFolder(d), (Names{"few", "mnt", "small"}));
        EXPECT_EQ(listFolder(d + "mnt/.installer"), Names{});
        mkdir((d + "srcdir").c_str(), 0755);
        symlink("nothing", (d + "dangling").c_str());
        writeFile(d + "huge", std::string(5 << 20, 'x'));
        for (const auto& [source, why] : {std::pair{"gone", "No such file or directory"}, {"srcdir", "Is a directory"},
                                          {"dangling", "No such file or directory"}, {"huge", "No space left on device"}}) {
          StagedChanges refused;
          const bool temporary = *source == 'g';  // a temporary that is gone; the others are moves
          stageChange(refused, d + "mnt/t", temporary ? ChangeKind::MoveTemporary : ChangeKind::MoveExisting, d + source);
          EXPECT_EQ(committed(refused), std::string("refused: could not create /tmp/mnt/t: ") + why) << source;
          EXPECT_EQ(pathExists(d + source), !temporary) << source;
          EXPECT_EQ(readFile(d + "mnt/t"), big) << source;
          EXPECT_EQ(listFolder(d + "mnt/.installer"), Names{}) << source;
        }
        // Too few inodes for the new folders and links (however the root is counted): the first is named.
        StagedChanges links;
        stageSymlink(links, "x", d + "few/new/link");
        EXPECT_EQ(committed(links), "refused: could not create /tmp/few/new: No space left on device");
      },
      {{root.host("/tmp/mnt"), "4m"}, {root.host("/tmp/few"), "1m,nr_inodes=1"}}, root.path()));
}

// Reading the manifest a safe run leaves (its writing is checked by the safe and commit runs).
TEST(Manifest, ReadingRules) {
  const struct {
    std::string content; bool result;
    std::vector<std::string> keys;
  } cases[] = {
      // Complete to its end or an empty line; a malformed line ends it with false, earlier lines stay.
      {"", true, {}},
      {"U /flash/a\nM /flash/b /src", true, {"/flash/a", "/flash/b /src"}},
      {"U /flash/a\n\nU /flash/b\n", true, {"/flash/a"}},
      {"U /flash/a\nU\nU /flash/b\n", false, {"/flash/a"}},
      {"U /flash/a\nM /flash/b\nU /flash/c\n", false, {"/flash/a"}},
      {"L /flash/a\n", false, {}}, {"X\n", false, {}},
      // Another letter is skipped, and the lines after it still count.
      {"X /flash/a /flash/b\nU /flash/c\nu /flash/d\nMM /flash/e /flash/f\n", true, {"/flash/c"}},
      // Empty fields are missing fields; a place outside "/flash" is passed over.
      {"M /flash/a \n", false, {}}, {"U  /flash/a\n", false, {}},
      {"U /etc/passwd\nM /rw/x /flash/a\nU /flash/c\n", true, {"/flash/c"}},
      {std::string("U /flash/a\nM /flash/b /c\n\xff\x00\x01junk\nU /flash/d\n", 30), false,
       {"/flash/a", "/flash/b /c"}},
      {"U /flash/a\n" + std::string(100000, 'j'), false, {"/flash/a"}},
      // A later line for the same target wins.
      {"M /flash/a /first\nL /flash/a text\nM /flash/a /last\n", true, {"/flash/a /last"}},
  };
  ScratchRoot root;
  const std::string path = root.host("/ram/MANIFEST");
  for (const auto& c : cases) {
    writeFile(path, c.content);
    StagedChanges set;
    EXPECT_EQ(readManifest(set, path), c.result) << c.content;
    std::vector<std::string> keys;
    for (const auto& [key, change] : set) keys.push_back(change.data.empty() ? key : key + " " + change.data);
    EXPECT_EQ(keys, c.keys) << c.content;
  }
}

}  // namespace
