// unpackFiles in a child chrooted to a scratch root: what it stages and prints, for odd, unsafe and cut payloads.
#include "package/payload.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <zlib.h>

#include <sstream>

#include "console/messages.h"
#include "model/install_rules.h"
#include "package/signature.h"
#include "support/fixtures.h"

using namespace fixtures;

namespace {

using qpk::FileEntry;

const std::string kBroken = "ERROR: installation of evil-7.1 failed: broken package\n";

// A package "evil" whose payload part is these bytes.
std::string withPayload(const std::string& payload) {
  qpk::PartWriter writer;
  writer.part(PartHeader, qpk::encodeHeader("evil", 0x07016600, 0, 0, true));
  writer.part(PartFiles, payload);
  return writer.finish();
}

// The inflated entry sequence the builder makes for these files, and back.
std::string plainEntries(const std::vector<FileEntry>& files) {
  std::string compressed = qpk::encodePayload(files, 6), plain(1 << 20, '\0');
  uLongf n = plain.size();
  EXPECT_EQ(Z_OK, uncompress(reinterpret_cast<Bytef*>(plain.data()), &n,
                             reinterpret_cast<const Bytef*>(compressed.data()), compressed.size()));
  return plain.substr(0, n);
}
std::string compressed(const std::string& plain) {
  uLongf size = compressBound(plain.size());
  std::string out(size, '\0');
  compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(plain.data()), plain.size());
  return out.substr(0, size);
}

// Reads a package as the stream installer does and unpacks it; the reader stays on the payload part.
struct Unpack {
  explicit Unpack(const std::string& bytes, bool disabled = false) : source(bytes), reader(&source, true, nullptr) {
    setConsoleStream(&console);
    for (int32_t type : {1, 4, 9}) reader.accept(type);
    EXPECT_EQ(PartHeader, reader.nextPart());
    EXPECT_TRUE(reader.readHeader(package));
    package.disabled = disabled;
    EXPECT_EQ(PartFiles, reader.partType());
    ok = unpackFiles(package, staged, reader);
    setConsoleStream(nullptr);
    errors = console.str().substr(std::min(console.str().find("ERROR: "), console.str().size()));
  }
  std::stringbuf source;
  PackageReader reader;
  Package package;
  StagedChanges staged;
  std::ostringstream console;
  std::string errors;  // from the first error on
  bool ok = false;
};

std::string noise(size_t n) {
  std::string s(n, '\0');
  uint32_t x = 12345;
  for (auto& c : s) c = static_cast<char>((x = x * 1103515245 + 12345) >> 24);
  return s;
}

// What each payload stages; other kinds and marked entries are read past, unwritten; the signature holds.
TEST(Payload, WhatEachPayloadStages) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    const std::string big = noise(300000);  // many blocks on both sides
    const struct {
      std::vector<FileEntry> files; bool disabled;
      std::map<std::string, std::string> staged;
    } cases[] = {
        {{FileEntry{"/bin/tool", big, 0x81ED}, FileEntry{"/etc/empty", ""}, FileEntry{"/etc/conf", "a=1\n"}}, false,
         {{"/flash/bin/tool", big}, {"/flash/etc/empty", ""}, {"/flash/etc/conf", "a=1\n"}}},
        {{}, false, {}},
        {{FileEntry{"/lib", "", 0x41ED}, FileEntry{"/lib/link", "target-of-link", 0xA1FF},
          FileEntry{"/dev/odd", noise(5000), 0x21B6},
          FileEntry{"/bin/marked", "xyz", 0x81A4, 1}, FileEntry{"/../up", "", 0x41ED}, FileEntry{"/bin/after", "after"}},
         false, {{"/flash/bin/after", "after"}}},
        {{FileEntry{"/bin/x", "1"}, FileEntry{"y", "2"}}, true, {{"/flash/x/p/bin/x", "1"}, {"/flash/x/p/y", "2"}}},
    };
    for (const auto& c : cases) {
      Unpack u(build(spec("p", "7.1", c.files)), c.disabled);
      SCOPED_TRACE(c.files.size());
      EXPECT_TRUE(u.ok);
      EXPECT_EQ("", u.errors);
      EXPECT_EQ(!c.staged.empty(), u.console.str().find("p-7.1 [") != std::string::npos);  // the progress bar
      EXPECT_EQ(c.staged, stagedView(u.staged));
      FileSet files;
      for (const auto& [target, content] : c.staged) files.insert(target);
      EXPECT_EQ(files, u.package.files);
      EXPECT_EQ(PartSignature, u.reader.nextPart());
      EXPECT_TRUE(verifySignature(u.package, u.reader, nullptr));
    }
    EXPECT_TRUE(Unpack(withPayload("")).ok);  // an empty payload part
  }));
}

// Unsafe paths (out of "/flash", a folder, the database, odd bytes) break the package before any write.
TEST(Payload, UnsafePathsMakeThePackageBrokenBeforeAnythingIsWritten) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    const std::string climbs = "climbs out with \"..\"", folder = "names a folder",
                      odd = "holds a space, a newline or a NUL", database = "lands in the package database";
    std::string longName(NAME_MAX + 1, 'n'), longPath;
    for (int i = 0; i < 16; ++i) longPath += "/" + std::string(254, 'p');  // with "/flash": 4096 bytes
    longPath += "/" + std::string(9, 'q');
    const std::pair<std::string, std::string> rows[] = {
        {"/../../etc/shadow", climbs}, {"../x", climbs}, {"/bin/..", climbs}, {"/a/../../b", climbs}, {"..", climbs},
        {"/bin/", folder}, {"/bin/.", folder}, {"", folder}, {"/", folder},
        {"/bin/a\nb", odd}, {std::string("/bin/a\0b", 8), odd}, {"/bin/a b", odd},
        {"/var/pdb/x/version", database}, {"/var/./pdb", database}, {"/a/" + longName, "has a component longer than 255 bytes"},
        {longPath, "is longer than a path may be"}, {longPath.substr(0, longPath.size() - 1), "/flash" + longPath.substr(0, longPath.size() - 1)},
        {"/a/" + longName.substr(1), "/flash/a/" + longName.substr(1)}, {"a//./b", "/flash/a/b"},
        {"/var/pdbx", "/flash/var/pdbx"}, {"/bin/..x", "/flash/bin/..x"}, {"/a.../b", "/flash/a.../b"},
    };
    for (const auto& [path, expected] : rows) {
      const char* problem = "";
      const std::string target = installedPath("/", path, &problem);
      EXPECT_EQ(expected, target.empty() ? problem : target) << path;
      Unpack u(withPayload(qpk::encodePayload({FileEntry{path, "owned"}}, 6)));
      EXPECT_EQ(!target.empty(), u.ok) << path;
      EXPECT_EQ(target.empty() ? kBroken : "", u.errors) << path;
      EXPECT_EQ(target.empty() ? FileSet{} : FileSet{target}, u.package.files) << path;
      EXPECT_EQ(target.empty() ? 0u : 1u, u.staged.size()) << path;
    }
    // A disabled package's name is part of its paths too.
    Unpack name(build(spec("..", "7.1", {FileEntry{"/etc/x", "owned"}})), true);
    EXPECT_FALSE(name.ok);
    EXPECT_TRUE(name.staged.empty());
    EXPECT_FALSE(pathExists("/etc/shadow"));
  }));
}

// Cut between entries or inside a head: complete; inside a path or data, or corrupt: broken; tail ignored.
TEST(Payload, CutPayloads) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    const std::string one = plainEntries({FileEntry{"/bin/one", "first file"}});
    const std::string both = plainEntries({FileEntry{"/bin/one", "first file"}, FileEntry{"/bin/two", noise(20000)}});
    ASSERT_EQ(one, both.substr(0, one.size()));
    const std::string whole = compressed(both);
    std::string corrupt = whole;
    corrupt[corrupt.size() / 2] ^= 0x55;
    corrupt[corrupt.size() / 2 + 1] ^= 0x55;
    const std::pair<std::string, bool> rows[] = {
        {compressed(one), true},  {compressed(both.substr(0, one.size() + 12)), true},
        {compressed(both.substr(0, one.size() + 33)), false}, {compressed(both.substr(0, one.size() + 138)), false},
        {compressed(both.substr(0, both.size() - 1)), false}, {whole.substr(0, whole.size() / 2), false},
        {corrupt, false},         {whole + std::string(100, '\x7f'), true},
    };
    for (const auto& [payload, complete] : rows) {
      Unpack u(withPayload(payload));
      EXPECT_EQ(complete, u.ok) << payload.size();
      EXPECT_EQ(complete ? "" : kBroken, u.errors) << payload.size();
      EXPECT_EQ("first file", stagedView(u.staged)["/flash/bin/one"]) << payload.size();
    }
  }));
}

}  // namespace
