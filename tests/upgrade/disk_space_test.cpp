// The disk-space estimate on tmpfs "/flash" and "/flash/boot"; moves from "/ram" cross devices.
#include "upgrade/disk_space.h"

#include <gtest/gtest.h>

#include "staging/atomic_writer.h"
#include "support/fixtures.h"

using namespace fixtures;

namespace {

constexpr int64_t kBlock = 4096, kReserve = 32768;

// Each case: mounts, files written first, staged changes (kind, target, source or link text: 'M' a move of a
// temporary, 'E' of an existing file, 'R' a removal, 'L' a link); the verdict and both margins.
TEST(DiskSpace, Margins) {
  using Change = std::tuple<char, std::string, std::string>;
  const auto blocks = [](int64_t count, int64_t extra = 0) { return std::string(count * kBlock + extra, 'x'); };
  using Mounts = std::vector<std::pair<std::string, std::string>>;
  const Mounts small = {{"/flash", "400k"}};  // 100 blocks, no "/flash/boot"
  const std::tuple<const char*, Mounts, std::map<std::string, std::string>, std::vector<Change>, bool, int64_t, int64_t> cases[] = {
      // No statistics for a missing "/flash/boot": nothing free, nothing used; free space grown: no reserve.
      {"nothing staged", small, {}, {}, true, 0, 100 * kBlock},
      {"8 blocks left, all the reserve", small, {{"/ram/t", blocks(92)}}, {{'M', "/flash/f", "/ram/t"}}, true, 0, 0},
      {"one byte more", small, {{"/ram/t", blocks(92, 1)}}, {{'E', "/flash/f", "/ram/t"}}, false, 0, -kBlock},
      {"a replaced file gives its blocks back", small, {{"/flash/bin/old", blocks(3)}, {"/ram/new", blocks(5)}},
       {{'E', "/flash/bin/old", "/ram/new"}}, true, 0, (97 - 5 + 3) * kBlock - kReserve},
      // A removal gives its blocks back; a link, a rename within flash and a source that is gone cost nothing.
      {"removals, links, renames", small, {{"/flash/big", blocks(10)}, {"/flash/tmpAbc", blocks(50)}},
       {{'R', "/flash/big", ""}, {'L', "/flash/var/pdb/k/image", "/flash/bootimage"},
        {'M', "/flash/var/pdb/x/image", "/flash/tmpAbc"}, {'E', "/flash/var/pdb/x/version", "/ram/vanished"}},
       true, 0, 50 * kBlock},
      // "/flash/bootimage" is not below "/flash/boot"; what is counts on both accounts.
      {"the boot part", {{"/flash", "400k"}, {"/flash/boot", "40k"}}, {{"/ram/kernel", blocks(3)}, {"/ram/image", blocks(2)}},
       {{'E', "/flash/boot/kernel", "/ram/kernel"}, {'E', "/flash/bootimage", "/ram/image"}}, false, 7 * kBlock - kReserve,
       95 * kBlock - kReserve},
      // 17 TiB: more free blocks than a 32-bit count holds (tmpfs only promises the size).
      {"large file systems", {{"/flash", "17t"}}, {{"/ram/file", blocks(1)}}, {{'E', "/flash/file", "/ram/file"}}, true, 0,
       (int64_t{17} << 40) - kBlock - kReserve},
  };
  for (const auto& [what, routerMounts, files, changes, ok, bootMargin, flashMargin] : cases) {
    ScratchRoot root;
    Mounts mounts;
    for (const auto& [path, size] : routerMounts) mounts.push_back({root.host(path), size});
    EXPECT_TRUE(runIsolated([&] {
      StagedChanges staged;
      for (const auto& [path, bytes] : files) {
        makeDirectories(parentDirectory(path));
        writeFile(path, bytes);
      }
      for (const auto& [kind, target, data] : changes) {
        if (kind == 'R') stageRemoval(staged, target);
        else if (kind == 'L') stageSymlink(staged, data, target);
        else stageChange(staged, target, kind == 'M' ? ChangeKind::MoveTemporary : ChangeKind::MoveExisting, data);
      }
      int64_t boot = 0, flash = 0;
      const bool fits = checkDiskSpace(staged, &boot, &flash);
      EXPECT_EQ(std::tie(fits, boot, flash), std::tie(ok, bootMargin, flashMargin)) << what;
    }, mounts, root.path())) << what;
  }
}

}  // namespace
