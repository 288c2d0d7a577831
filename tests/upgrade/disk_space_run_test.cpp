// A full upgrade run that does not fit: "/flash" (and "/flash/boot") are
// small tmpfs mounts in a private mount namespace.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "staging/atomic_writer.h"
#include "support/fixtures.h"

using namespace fixtures;

namespace {

constexpr int64_t kBlock = 4096;

int64_t fileBlocks(const ScratchRoot& root, const std::string& routerPath) {
  struct stat status;
  if (stat(root.host(routerPath).c_str(), &status) != 0) return 0;
  return (status.st_size + kBlock - 1) / kBlock;
}

// Blocks that the moves of a manifest bring onto the file system mounted at
// mountPath, every target being new and every source on another device.
int64_t manifestBlocks(const ScratchRoot& root, const std::string& manifest, const std::string& mountPath) {
  std::istringstream lines(manifest);
  std::string kind, target, source;
  int64_t blocks = 0;
  while (lines >> kind >> target >> source) {
    EXPECT_EQ(kind, "M");
    if (target.compare(0, mountPath.size() + 1, mountPath + "/") == 0) blocks += fileBlocks(root, source);
  }
  return blocks;
}

int shortfallKb(int64_t freeBlocks, int64_t usedBlocks) {
  const int64_t margin = (freeBlocks - usedBlocks) * kBlock - 32768;
  EXPECT_LT(margin, 0);
  return static_cast<int>(-margin / 1024 + 1);
}

// Removes the temporaries a safe run left behind, so the next run's are the only ones.
void dropTemporaries(ScratchRoot& root) {
  for (const std::string& name : root.list("/ram")) {
    if (name.rfind("tmp", 0) == 0) root.remove("/ram/" + name);
  }
}

std::string bigPackage() {
  return build(spec("alpha", "1.0", {file("/bin/alpha", std::string(200000, 'a')), file("/boot/kernel", std::string(100000, 'k'))}));
}

TEST(DiskSpaceRun, ShortfallIsReportedDiscardedAndExits28) {
  ScratchRoot root;
  upload(root, "alpha.qpk", bigPackage());
  // 16 blocks each: too little to hold even a temporary beside its target, so
  // every temporary goes to "/ram" and every move crosses a device.
  const bool passed = runIsolated([&] {
    makeDirectories(root.host("/flash/var/pdb"));
    // The same staged set, left in a manifest, tells what the run needs.
    const RunResult safe = root.run({"--safe", "--reinstall"});
    ASSERT_EQ(safe.status, 0) << safe.outPlain;
    const std::string manifest = root.read("/ram/MANIFEST");
    const int64_t flashBlocks = manifestBlocks(root, manifest, "/flash");
    const int64_t bootBlocks = manifestBlocks(root, manifest, "/flash/boot");
    ASSERT_GT(bootBlocks, 16);
    root.remove("/ram/MANIFEST");
    dropTemporaries(root);

    const RunResult run = root.run({});
    EXPECT_EQ(run.status, 28);
    // The log's 4096 zero bytes hold one block of "/flash" while the run works.
    const std::string bootLine = "ERROR: upgrade failed, free " + std::to_string(shortfallKb(16, bootBlocks)) +
                                 " kB disk space for a kernel upgrade";
    const std::string flashLine = "ERROR: upgrade failed, free " +
                                  std::to_string(shortfallKb(16 - 1, flashBlocks)) + " kB disk space for a upgrade";
    EXPECT_TRUE(hasLine(run.outPlain, bootLine)) << run.outPlain;
    EXPECT_TRUE(hasLine(run.outPlain, flashLine)) << run.outPlain;
    EXPECT_LT(run.outPlain.find(bootLine), run.outPlain.find(flashLine));
    EXPECT_EQ(run.outPlain.find("installed "), std::string::npos) << run.outPlain;
    // Nothing committed, no manifest, and the temporaries are gone.
    EXPECT_FALSE(root.exists("/flash/bin/alpha"));
    EXPECT_FALSE(root.exists("/flash/var/pdb/alpha"));
    EXPECT_FALSE(root.exists("/flash/PCKGS_CHANGED"));
    EXPECT_FALSE(root.exists("/ram/MANIFEST"));
    for (const std::string& name : root.list("/ram")) EXPECT_NE(name.rfind("tmp", 0), 0u) << name;
    EXPECT_TRUE(hasLine(root.read("/flash/postlog"), flashLine));

    // A resumed upgrade skips the estimate, but its files cannot be copied
    // onto the full flash: refused before anything changes.
    const RunResult resumed = root.run({"--reinstall"});
    EXPECT_EQ(resumed.status, 28);
    EXPECT_EQ(resumed.outPlain, "\nResuming upgrade...\nERROR: upgrade failed: could not create /flash/bin/alpha: "
                                "No space left on device\n");
    EXPECT_FALSE(root.exists("/flash/bin/alpha"));
  }, {{root.host("/flash"), "64k"}, {root.host("/flash/boot"), "64k"}});
  EXPECT_TRUE(passed);
}

}  // namespace
