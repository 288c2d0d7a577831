// The changed-packages marker on a flash whose inodes are used up: the run
// must not commit its changes without the marker (the system would never
// learn that the package set changed); it says why and changes nothing.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "support/fixtures.h"

using namespace fixtures;

namespace {

constexpr const char* kVersion10 = "16803328 100\n";

void installEntry(ScratchRoot& root, const std::string& name) {
  const std::string entry = "/flash/var/pdb/" + name + "/";
  root.write(entry + "version", kVersion10);
  root.write(entry + "files", "flash/bin/" + name + "\n");
  root.write("/flash/bin/" + name, "binary of " + name);
}

// Creates empty files below /flash/filler until the file system has no
// inode left, then gives back spare of them.
void useUpInodes(ScratchRoot& root, int spare) {
  const std::string folder = root.host("/flash/filler");
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  int count = 0;
  for (;; ++count) {
    const int fd = ::open((folder + "/" + std::to_string(count)).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) break;
    ::close(fd);
  }
  ASSERT_GT(count, spare);
  for (int i = 0; i < spare; ++i) ::unlink((folder + "/" + std::to_string(count - 1 - i)).c_str());
}

// A tmpfs /flash with inodes to spare for the entries and the filler.
std::vector<std::pair<std::string, std::string>> smallFlash(const ScratchRoot& root) {
  return {{root.host("/flash"), "1m,nr_inodes=64"}};
}

TEST(ChangedMarker, UpgradeRunWithoutRoomForTheMarkerCommitsNothing) {
  ScratchRoot root;
  EXPECT_TRUE(runIsolated(
      [&] {
        installEntry(root, "keep");
        installEntry(root, "gone");
        root.write("/ram/pdb/gone/schedule", "uninstall\n");
        // Uninstalling needs no new file; only the marker does.
        useUpInodes(root, 0);
        const RunResult run = root.run({});
        EXPECT_EQ(run.status, 28) << run.outPlain;
        EXPECT_TRUE(hasLine(run.outPlain,
                            "ERROR: upgrade failed: could not create /flash/PCKGS_CHANGED: No space left on device"))
            << run.outPlain;
        EXPECT_EQ(root.read("/flash/bin/gone"), "binary of gone");
        EXPECT_TRUE(root.exists("/flash/var/pdb/gone/version"));
        EXPECT_FALSE(root.exists("/flash/PCKGS_CHANGED"));
      },
      smallFlash(root)));
}

TEST(ChangedMarker, StandardInputWithoutRoomForTheMarkerCommitsNothing) {
  ScratchRoot root;
  EXPECT_TRUE(runIsolated(
      [&] {
        installEntry(root, "keep");
        // One inode for the image copy, none for the marker. A package of
        // the unrecorded magic without files stages nothing else.
        useUpInodes(root, 1);
        qpk::PackageSpec bare = spec("bare", "1.0", {});
        bare.magic = UnrecordedMagic;
        const RunResult run = root.run({"-"}, {}, build(bare));
        EXPECT_EQ(run.status, 255) << run.outPlain;
        EXPECT_TRUE(hasLine(run.outPlain,
                            "ERROR: upgrade failed: could not create /flash/PCKGS_CHANGED: No space left on device"))
            << run.outPlain;
        EXPECT_FALSE(root.exists("/flash/PCKGS_CHANGED"));
        EXPECT_FALSE(root.exists("/flash/var/pdb/image"));
      },
      smallFlash(root)));
}

}  // namespace
