// "installer -" end to end.
#include <fstream>

#include "app/scenario.h"

using namespace scenario;

namespace {

// What goes in (silently), and the exit status of what does not; a row without words pipes its input.
TEST(StandardInput, Scenarios) {
  const Tree hello10Files = {{"/bin/hello", "#!/bin/sh\n"}, {"/etc/old", std::string("a\0b", 3)}};
  const Tree hello11Files = {{"/bin/hello", "two"}, {"/etc/new", std::string("y\0", 2)}};
  const Files hello10 = {{"h.qpk", pack("hello", "1.0", hello10Files)}};
  const std::string recorded = build(with(S("hello", "1.0", {{"/bin/hello", "one"}}), withBlob("1")));
  const std::string boot =
      build(with(with(S("kernel", "1.0", {{"/boot/kernel", "vmlinux"}}), withFlags(kFlagBootImage)), withBlob(std::string(10000, 'b'))));
  const qpk::PackageSpec alpha = S("alpha", "1.0", {{"/bin/alpha", "a"}}), beta = S("beta", "1.0", {{"/bin/beta", "b"}});
  const std::string listed = buildBundle(with(bundle("bun", "1.0", {alpha, beta}), listing({relation("beta")})));
  const std::string bun10 = buildBundle(bundle("bun", "1.0", {alpha}));
  const qpk::PackageSpec b = S("b", "1.0", {{"/bin/b", "b"}});
  const std::string older = buildBundle(bundle("bun", "1.0", {S("alpha", "1.0", {{"/bin/alpha", "1"}}), b}));
  const qpk::PackageSpec kernel = with(S("kernel", "1.0", {{"/bin/kernel", "k"}}), withFlags(kFlagBootImage));
  const std::string bootBundle = buildBundle(bundle("bun", "1.0", {kernel, b}));
  const Tree inBun = {{"bundle", "bun\n"}};
  // After the signature only an architecture part and an empty dependency part may follow.
  const std::string signedHello = pack("hello", "1.0", {{"/bin/hello", "one"}}).substr(8);
  const std::string x = qpk::encodeRelations({relation("x")}), broken = "ERROR: installation of hello-1.0 failed: broken package\n";
  const Tree hello1 = entry("hello", "1.0", {{"/bin/hello", "one"}}) + kMarker;
  const std::string closed = stream({{0, bun10.substr(8)}, {PartArchitecture, "i386"}});
  const Row rows[] = {
      {.what = "upgrade", .first = hello10, .input = pack("hello", "1.1", hello11Files),
       .flash = entry("hello", "1.1", hello11Files) + kMarker},
      // Counted as installed, nothing unpacked.
      {.what = "equal version, reinstalling", .first = hello10, .setup = {{"/flash/bin/hello", "changed"}},
       .args = {"--reinstall", "-"}, .input = hello10[0].second, .out = "\nResuming upgrade...\ninstalled hello-1.0\n",
       .flash = entry("hello", "1.0", hello10Files) + Tree{{"/flash/bin/hello", "changed"}} + kMarker},
      {.what = "an unrecorded package keeps the entry and its image", .first = {{"h.qpk", recorded}},
       .input = build(with(with(S("hello", "2.0", {{"/bin/extra", "more"}}), unrecorded), withBlob("2"))),
       .flash = imaged("hello", recorded, {{"/bin/hello", "one"}, {"/bin/extra", "more"}}) + kMarker},
      {.what = "a boot image package without the variable", .input = boot,
       .flash = imaged("kernel", boot, {{"/boot/kernel", "vmlinux"}}) + Tree{{"/flash/UPGRADED", ""}} + kMarker},
      // Listed members come out disabled; the bundle keeps the stream as its image.
      {.what = "a bundle with a member list", .input = listed,
       .flash = entry("alpha", "1.0", {{"/bin/alpha", "a"}}, inBun) + imaged("bun", listed) + kMarker +
                entry("beta", "1.0", {{"/x/beta/bin/beta", "b"}}, inBun + Tree{{"disabled", "auto\n"}})},
      {.what = "a member older than the installed package is passed over",
       .first = {{"a.qpk", pack("alpha", "2.0", {{"/bin/alpha", "2"}})}}, .input = older,
       .flash = entry("alpha", "2.0", {{"/bin/alpha", "2"}}) + entry("b", "1.0", {{"/bin/b", "b"}}, inBun) +
                imaged("bun", older) + kMarker},
      {.what = "a boot image member makes the bundle the boot image", .input = bootBundle, .env = {{"bootimage", "1"}},
       .flash = entry("kernel", "1.0", {}, inBun) + entry("b", "1.0", {{"/bin/b", "b"}}, inBun) + kMarker +
                imaged("bun", "-> /flash/bootimage") + Tree{{"/flash/bootimage", bootBundle}, {"/flash/UPGRADED", ""}}},
      {.what = "branding sets both markers", .input = pack("branding", "1.0"),
       .flash = entry("branding", "1.0", {}) + Tree{{"/flash/UPGRADED", ""}, {"/flash/BRANDING_INSTALLED", ""}} + kMarker},
      // A system of major 6 or less asks for a conversion even when refused.
      {.what = "old system", .input = build(with(S("system", "6.40"), needs("missing"))), .status = 1,
       .out = "ERROR: can not install system-6.40: missing is not installed, but is required\n", .also = {{"/rw/CONVERT", ""}}},
      {.what = "new system", .input = pack("system", "7.1"), .flash = entry("system", "7.1", {}) + kMarker,
       .also = {{"/rw/CONVERT", kGone}}},
      {.what = "a bundle already installed", .first = {{"b.qpk", bun10}}, .input = bun10, .status = 2,  // exit status 2
       .out = "WARNING: omitting package bun-1.0: it is already installed\n"},
      // The scheduled disabling waits for a run that succeeds.
      {.what = "unsigned", .first = {base()[0], {"h.qpk", pack("hello", "7.2", {{"/bin/hello", "one"}})}},
       .setup = {{"/ram/pdb/hello/schedule", "disable\n"}},
       .input = build(with(with(S("hello", "7.3", {{"/bin/hello", "evil"}, {"/bin/new", "n"}}), unsignedForm), withBlob("x"))),
       .status = 1, .out = "disabled hello-7.2\nERROR: installation of hello-7.3 failed: broken package\n",
       .also = {{"/ram/pdb/hello/schedule", "disable\n"}}},
      {.what = "no database folder for the image copy", .setup = {{"/flash/var/pdb", kGone}}, .input = hello10[0].second,
       .status = 255, .out = "WARNING: could not open repo\nERROR: could not open image\n", .log = ""},
      // Small flash disks: one line says why, nothing is committed. No commit without the changed-packages
      // marker; an unrecorded package without files stages nothing but the image copy.
      {.what = "no inode for the marker", .input = build(with(S("bare", "1.0"), unrecorded)),
       .status = 255,
       .out = "ERROR: upgrade failed: could not create /flash/PCKGS_CHANGED: No space left on device\n", .log = "",
       .mounts = {{"/flash", "1m,nr_inodes=64"}}, .prepare = [](ScratchRoot& root) {
         installEntry(root, "keep");
         // Every inode but one is used up, however the kernel counts the file system's own.
         for (int n = 0; std::ofstream(root.host("/flash/fill" + std::to_string(n))); ++n) {}
         root.remove("/flash/fill0");
       }},
      // Every temporary goes to "/ram" and every move crosses a device.
      {.what = "short of room on flash and on its boot part", .setup = {{"/flash/var/pdb/", ""}},
       .input = pack("alpha", "1.0", {{"/bin/alpha", std::string(200000, 'a')}, {"/boot/kernel", std::string(100000, 'k')}}),
       .status = 28,
       .out = "ERROR: upgrade failed, free 69 kB disk space for a kernel upgrade\n"
              "ERROR: upgrade failed, free 277 kB disk space for a upgrade\n",
       .mounts = {{"/flash", "64k"}, {"/flash/boot", "64k"}}},
      // A cut copy of a blob package must never become its stored image.
      {.what = "an image copy cut by a full flash", .setup = {{"/flash/var/pdb/", ""}},
       .input = build(with(S("hello", "1.0"), withBlob(std::string(200 * 1024, 'b')))), .status = 255,
       .out = "ERROR: installation failed: could not write /flash/var/pdb/image: No space left on device\n",
       .mounts = {{"/flash", "64k"}}},
      {.what = "empty input", .status = 1, .out = "ERROR: installation of standard input failed: broken package\n"},
      {.what = "architecture and empty dependencies after the signature",
       .input = stream({{0, signedHello}, {PartArchitecture, "i386"}, {PartDependencies, ""}}), .flash = hello1},
      {.what = "a relation", .input = stream({{0, signedHello}, {PartDependencies, x}}), .status = 1, .out = broken},
      {.what = "the other order",
       .input = stream({{0, signedHello}, {PartDependencies, ""}, {PartArchitecture, "i386"}}), .status = 1, .out = broken},
      {.what = "an architecture part may close a bundle", .input = closed,
       .flash = entry("alpha", "1.0", {{"/bin/alpha", "a"}}, inBun) + kMarker + imaged("bun", closed)},
  };
  for (Row row : rows) {
    if (row.args.empty()) row.args = kPipe;
    play(row);
  }
}

}  // namespace
