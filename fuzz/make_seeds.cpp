// Writes the seed corpora of the fuzz targets, built with the package builder
// and signed with the development keys:
//   make_seeds SOURCE_DIR OUTPUT_DIR
// makes OUTPUT_DIR/<target>/<seed> for reader, unpack, manifest, loader, info and
// signature.
#include <sys/stat.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "qpk/package_builder.h"

namespace {

std::string outputDirectory;

void save(const std::string& target, const std::string& name, const std::string& bytes) {
  const std::string dir = outputDirectory + "/" + target;
  ::mkdir(dir.c_str(), 0755);
  std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
}

std::string le16(uint32_t v) { return std::string{char(v & 0xFF), char((v >> 8) & 0xFF)}; }

qpk::PackageSpec smallPackage(const std::string& name) {
  qpk::PackageSpec spec;
  spec.name = name;
  spec.version = makeVersion(6, 46, 0x66, 9);
  spec.buildTime = 1600000000;
  spec.files = {{"/bin/" + name, "#!/bin/sh\necho " + name + "\n", 0x81ED},
                {"etc/" + name + ".conf", "x=1\n"},
                {"/var", "", 0x41ED},
                {"/lib/link", "target", 0xA1FF},
                {"/skip", "skipped", 0x81A4, 1}};
  return spec;
}

std::string inflate(const std::string& packed) {
  std::string out(1 << 16, '\0');
  uLongf length = out.size();
  if (uncompress(reinterpret_cast<Bytef*>(out.data()), &length, reinterpret_cast<const Bytef*>(packed.data()),
                 packed.size()) != Z_OK)
    return "";
  out.resize(length);
  return out;
}

// The loader target's record: slot, u16 length, content.
std::string record(int name, int file, const std::string& content) {
  return std::string(1, char(name * 11 + file)) + le16(content.size()) + content;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_seeds SOURCE_DIR OUTPUT_DIR\n");
    return 2;
  }
  outputDirectory = argv[2];
  ::mkdir(outputDirectory.c_str(), 0755);
  const qpk::SigningKeys keys = qpk::developmentKeys(argv[1]);
  std::string error;

  // Packages of every shape the builder makes.
  std::vector<std::pair<std::string, std::string>> packages;
  auto add = [&](const std::string& label, const qpk::PackageSpec& spec) {
    std::string file;
    if (!qpk::buildPackage(spec, keys, &file, &error)) {
      std::fprintf(stderr, "make_seeds: %s: %s\n", label.c_str(), error.c_str());
      std::exit(1);
    }
    packages.emplace_back(label, file);
  };
  qpk::PackageSpec plain = smallPackage("hello");
  add("plain", plain);
  qpk::PackageSpec full = smallPackage("system");
  full.text24 = "text24";
  full.architecture = "mipsbe";
  full.text2 = "text2";
  full.note = "a note";
  full.dependencies = {{"base", makeVersion(6, 40, 0x66, 0), makeVersion(6, 49, 0x66, 0), 0}};
  full.provides = {{"greeter", 0, 0, 5}, {"other", 0, 0, -3}};
  full.conflicts = {{"old-hello", 0, 0, 0}};
  full.blob = std::string(40, 'B');
  full.flags = 1;
  add("full", full);
  qpk::PackageSpec sha = smallPackage("sha");
  sha.sha256 = true;
  add("sha256", sha);
  qpk::PackageSpec shortForm = smallPackage("legacy");
  shortForm.version = makeVersion(6, 40, 0x66, 1);
  shortForm.signature = qpk::SignatureForm::Short;
  add("short", shortForm);
  qpk::PackageSpec unrecorded = smallPackage("unrec");
  unrecorded.magic = UnrecordedMagic;
  unrecorded.writeFlags = false;
  add("unrecorded", unrecorded);
  qpk::PackageSpec empty = smallPackage("empty");
  empty.files.clear();
  empty.hasPayload = false;
  empty.signature = qpk::SignatureForm::None;
  add("nopayload", empty);

  qpk::BundleSpec bundle;
  bundle.name = "bundle";
  bundle.version = makeVersion(6, 46, 0x66, 9);
  bundle.note = "bundle note";
  bundle.memberList = std::vector<Relation>{{"m1", 0, 0, 0}, {"m2", 0, 0, 0}};
  bundle.members = {smallPackage("m1"), smallPackage("m2")};
  bundle.members[1].blob = "blob";
  std::string bundleFile;
  if (!qpk::buildBundle(bundle, keys, &bundleFile, &error)) {
    std::fprintf(stderr, "make_seeds: bundle: %s\n", error.c_str());
    return 1;
  }
  packages.emplace_back("bundle", bundleFile);

  for (const auto& [label, file] : packages) {
    // reader: the selector byte picks the list (0..2) and the source kind.
    for (int selector : {0x00, 0x01, 0x02, 0x10, 0x21}) save("reader", label + "-" + std::to_string(selector),
                                                              std::string(1, char(selector)) + file);
    save("signature", label, file);
    save("info", label, file);
  }

  // unpack: inflated entries (selector 0), raw part data (selector 1), disabled (2).
  const std::string packed = qpk::encodePayload(smallPackage("hello").files, 6);
  save("unpack", "entries", std::string(1, '\0') + inflate(packed));
  save("unpack", "entries-disabled", std::string(1, '\2') + inflate(packed));
  save("unpack", "raw", std::string(1, '\1') + packed);
  save("unpack", "empty", std::string(1, '\1'));

  save("manifest", "moves",
       "L /flash/var/pdb/a/image /flash/bootimage\n"
       "M /flash/bin/a /flash/.tmp0001\n"
       "U /flash/var/pdb/old\n"
       "X ignored line\n"
       "M /flash/PCKGS_CHANGED /flash/.tmp0002\n");
  save("manifest", "broken", "M /flash/bin/a\nU /x\n");
  save("manifest", "empty-line", "\nU /x\n");

  // loader: names a (0), b (1), sys_tem.x (2); files version (0) ... image (8),
  // images directory (9), schedule (10).
  const std::string entryA = record(0, 0, "103704073 1600000000\n") + record(0, 1, "base 0 0\n") +
                             record(0, 2, "greeter 0 0 5\n") + record(0, 3, "old 0 0\n") +
                             record(0, 5, "bin/a\n/etc/a.conf\n") + record(0, 10, "disable\n");
  save("loader", "entries", entryA + record(1, 0, "1 2\n") + record(1, 6, "auto\n") + record(1, 4, "bundle\n") +
                                record(2, 0, "not a number\n") + record(2, 10, "uninstall"));
  save("loader", "images", record(0, 8, packages[1].second) + record(1, 9, packages[0].second) +
                               record(1, 7, "user\n") + record(2, 8, bundleFile) + record(2, 10, "enable\n"));
  save("loader", "broken", record(0, 1, "a 1 2 b") + record(0, 2, "p 1 2 x\n") + record(1, 8, "\x1e\xf1\xd0\xba"));
  return 0;
}
