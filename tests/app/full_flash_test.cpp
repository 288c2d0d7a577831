// Small tmpfs flash and RAM disks, beyond the upgrade run's full-flash sweeps:
// each run that cannot finish says why, one line per shortfall, and commits nothing.
#include <fcntl.h>
#include <unistd.h>

#include "app/scenario.h"

using namespace scenario;

namespace {

// Fills /flash/filler with empty files until no inode is left, then frees spare of them.
void useUpInodes(ScratchRoot& root, int spare) {
  const std::string folder = root.host("/flash/filler");
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  int count = 0;
  for (int fd; (fd = ::open((folder + "/" + std::to_string(count)).c_str(), O_CREAT | O_EXCL, 0644)) >= 0; ++count) ::close(fd);
  ASSERT_GT(count, spare);
  for (int i = 1; i <= spare; ++i) ::unlink((folder + "/" + std::to_string(count - i)).c_str());
}

TEST(FullFlash, Scenarios) {
  Tree many;
  for (int i = 0; i < 200; ++i) many["/bin/tool-with-a-long-name-" + std::to_string(i)] = "x";
  const std::string big =
      pack("alpha", "1.0", {{"/bin/alpha", std::string(200000, 'a')}, {"/boot/kernel", std::string(100000, 'k')}});
  const Tree pdb = {{"/flash/var/pdb/.keep", ""}};
  const Row rows[] = {
      // No commit without the changed-packages marker; an unrecorded package
      // without files stages nothing but the image copy.
      {.what = "no inode for the marker, piped", .args = kPipe, .input = build(with(S("bare", "1.0"), [](auto& s) { s.magic = UnrecordedMagic; })), .status = 255,
       .out = "ERROR: upgrade failed: could not create /flash/PCKGS_CHANGED: No space left on device\n", .log = "",
       .mounts = {{"/flash", "1m,nr_inodes=64"}}, .prepare = [](ScratchRoot& root) {
         installEntry(root, "keep");
         useUpInodes(root, 1);
       }},
      // The temporaries fit on flash, 200 manifest lines not in one page of RAM.
      {.what = "a manifest that does not fit", .uploads = {{"many.qpk", pack("many", "1.0", many)}}, .args = {"--safe"},
       .status = 28, .out = "ERROR: upgrade failed: could not write /ram/MANIFEST\n", .also = {{"/ram/MANIFEST", kGone}},
       .mounts = {{"/ram", "4k"}}},
      // Every temporary goes to "/ram" and every move crosses a device.
      {.what = "short of room on flash and on its boot part", .setup = pdb, .uploads = {{"alpha.qpk", big}}, .status = 28,
       .out = "ERROR: upgrade failed, free 69 kB disk space for a kernel upgrade\n"
              "ERROR: upgrade failed, free 277 kB disk space for a upgrade\n",
       .mounts = {{"/flash", "64k"}, {"/flash/boot", "64k"}}},
      {.what = "piped files that fit the RAM disk only", .setup = pdb, .args = kPipe,
       .input = pack("hello", "1.0", {{"/bin/hello", std::string(100 * 1024, 'h')}}), .status = 28,
       .out = "ERROR: upgrade failed, free 81 kB disk space for a upgrade\n", .mounts = {{"/flash", "64k"}}},
      // A cut copy of a blob package must never become its stored image.
      {.what = "an image copy cut by a full flash", .setup = pdb, .args = kPipe,
       .input = build(with(S("hello", "1.0"), withBlob(std::string(200 * 1024, 'b')))),
       .status = 255,
       .out = "ERROR: installation failed: could not write /flash/var/pdb/image: No space left on device\n",
       .log = kUnchecked, .mounts = {{"/flash", "64k"}}},
  };
  for (const Row& row : rows) play(row);
}

}  // namespace
