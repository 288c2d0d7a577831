// unpackFiles in a chrooted child on a scratch root: what it stages, writes
// into the temporaries and prints, for whole, odd and cut payloads.
#include "package/payload.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <map>
#include <sstream>
#include <string>

#include "console/messages.h"
#include "package/signature.h"
#include "support/fixtures.h"

using namespace fixtures;

namespace {

using qpk::FileEntry;

qpk::PackageSpec pkg(const std::string& name, std::vector<FileEntry> files) { return spec(name, "7.1", files); }

// A package whose payload part holds exactly the given compressed bytes.
std::string withPayloadPart(const std::string& compressed) {
  qpk::PartWriter writer;
  writer.part(PartHeader, qpk::encodeHeader("cut", 0x07010000, 0, 0, true));
  writer.part(PartFiles, compressed);
  return writer.finish();
}

// The inflated entry sequence the builder makes for these files.
std::string plainEntries(const std::vector<FileEntry>& files) {
  std::string compressed = qpk::encodePayload(files, 6), plain(1 << 20, '\0');
  uLongf n = plain.size();
  EXPECT_EQ(Z_OK, uncompress(reinterpret_cast<Bytef*>(plain.data()), &n,
                             reinterpret_cast<const Bytef*>(compressed.data()), compressed.size()));
  plain.resize(n);
  return plain;
}

// A complete zlib stream of the given (possibly cut) entry bytes.
std::string compress(const std::string& plain) {
  uLongf size = compressBound(plain.size());
  std::string out(size, '\0');
  EXPECT_EQ(Z_OK, compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                            reinterpret_cast<const Bytef*>(plain.data()), plain.size(), 6));
  out.resize(size);
  return out;
}

// Reads a package file the way the stream installer does, up to the payload,
// and unpacks it; the reader is left on the payload part for the caller.
struct Unpack {
  explicit Unpack(const std::string& bytes, bool disabled = false)
      : source(bytes), reader(&source, true, nullptr) {
    setConsoleStream(&console);
    for (int32_t type : {1, 18, 20, 16, 3, 19, 17, 21, 4, 9}) reader.accept(type);
    EXPECT_EQ(PartHeader, reader.nextPart());
    EXPECT_TRUE(reader.readHeader(package));
    package.disabled = disabled;
    while (reader.partType() != PartFiles && reader.partType() >= 0) reader.nextPart();
    EXPECT_EQ(PartFiles, reader.partType());
    ok = unpackFiles(package, staged, reader);
  }
  ~Unpack() { setConsoleStream(nullptr); }

  // The errors printed, without the progress line.
  std::string errors() const {
    std::string out;
    std::istringstream lines(console.str());
    std::string line;
    while (std::getline(lines, line)) {
      size_t at = line.find("ERROR: ");
      if (at != std::string::npos) out += line.substr(at) + "\n";
    }
    return out;
  }
  // Contents and mode of the temporary staged for target.
  std::string staged_(const std::string& target) const {
    auto it = staged.find(target);
    return it == staged.end() || it->second.kind != ChangeKind::MoveTemporary ? "<not staged>"
                                                                               : readFile(it->second.data);
  }
  unsigned modeOf(const std::string& target) const {
    auto it = staged.find(target);
    return it == staged.end() ? 0 : fileMode(it->second.data);
  }

  std::stringbuf source;
  PackageReader reader;
  Package package;
  StagedChanges staged;
  std::ostringstream console;
  bool ok = false;
};

std::string bigContent(size_t n) {
  std::string s(n, '\0');
  uint32_t x = 12345;
  for (auto& c : s) {
    x = x * 1103515245 + 12345;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

TEST(Payload, WritesEveryRegularFileByteForByteAndCoversTheDigest) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    const std::string big = bigContent(300000);  // many 4 KiB blocks, both sides
    Unpack u(build(pkg("files", {FileEntry{"/bin/tool", big, 0x81ED}, FileEntry{"/etc/conf", "a=1\n"}})));
    EXPECT_TRUE(u.ok);
    EXPECT_EQ("", u.errors());
    EXPECT_EQ(u.package.files, (FileSet{"/flash/bin/tool", "/flash/etc/conf"}));
    EXPECT_EQ(2u, u.staged.size());
    EXPECT_TRUE(u.staged_("/flash/bin/tool") == big);
    EXPECT_EQ("a=1\n", u.staged_("/flash/etc/conf"));
    EXPECT_EQ(0755u, u.modeOf("/flash/bin/tool"));
    EXPECT_EQ(0644u, u.modeOf("/flash/etc/conf"));
    EXPECT_NE(std::string::npos, u.console.str().find("installing files-7.1 ["));
    // The compressed bytes went through the reader's digest: the signature holds.
    EXPECT_EQ(PartSignature, u.reader.nextPart());
    EXPECT_TRUE(verifySignature(u.package, u.reader, nullptr));
  }));
}

// What each payload stages: non-regular and marked entries are not
// written, but their data is consumed (the file after them lands whole and
// the signature still holds); relative, disabled and dotted paths.
TEST(Payload, WhatEachPayloadStages) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    FileEntry marked{"/bin/marked", "xyz"};
    marked.byte23 = 1;
    const struct {
      std::string bytes;
      bool disabled;
      std::map<std::string, std::string> staged;
      std::map<std::string, unsigned> modes;
    } cases[] = {
        {build(pkg("empty", {})), false, {}, {}},
        {withPayloadPart(""), false, {}, {}},
        {build(pkg("skips", {FileEntry{"/lib", "", 0x41ED}, FileEntry{"/lib/link", "target-of-link", 0xA1FF},
                             FileEntry{"/dev/odd", bigContent(5000), 0x21B6}, marked, FileEntry{"/bin/after", "after"}})),
         false, {{"/flash/bin/after", "after"}}, {}},
        {build(pkg("dirs", {FileEntry{"/lib", "", 0x41ED}, FileEntry{"/lib/l", "x", 0xA1FF}})), false, {}, {}},
        {build(pkg("zero", {FileEntry{"/etc/empty", "", 0x8180}, FileEntry{"/bin/run", "", 0x81FD}})), false,
         {{"/flash/etc/empty", ""}, {"/flash/bin/run", ""}}, {{"/flash/etc/empty", 0600}, {"/flash/bin/run", 0775}}},
        {build(pkg("rel", {FileEntry{"etc/x", "1"}})), false, {{"/flash/etc/x", "1"}}, {}},
        {build(pkg("p", {FileEntry{"/bin/x", "1"}, FileEntry{"y", "2"}})), true,
         {{"/flash/x/p/bin/x", "1"}, {"/flash/x/p/y", "2"}}, {}},
        {build(pkg("dots", {FileEntry{"/bin/..x", "1"}, FileEntry{"/a.../b", "2"}})), false,
         {{"/flash/a.../b", "2"}, {"/flash/bin/..x", "1"}}, {}},
    };
    for (const auto& c : cases) {
      Unpack u(c.bytes, c.disabled);
      SCOPED_TRACE(u.package.name);
      EXPECT_TRUE(u.ok);
      EXPECT_EQ("", u.errors());
      EXPECT_EQ(stagedView(u.staged), c.staged);
      FileSet files;
      for (const auto& [target, content] : c.staged) files.insert(target);
      EXPECT_EQ(u.package.files, files);
      for (const auto& [target, mode] : c.modes) EXPECT_EQ(mode, u.modeOf(target)) << target;
      if (!u.package.name.empty() && u.package.name != "cut") {
        EXPECT_EQ(PartSignature, u.reader.nextPart());
        EXPECT_TRUE(verifySignature(u.package, u.reader, nullptr));
      }
    }
  }));
}

// A stored path could climb out of "/flash" or break the one-path-per-line
// files list; such a package is broken and none of its files is written.
TEST(Payload, UnsafePathsMakeThePackageBrokenBeforeAnythingIsWritten) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    for (const std::string& path : {std::string("/../../etc/shadow"), std::string("../x"), std::string("/bin/.."),
                                    std::string("/a/../../b"), std::string("/bin/a\nb"),
                                    std::string("/bin/a\0b", 8), std::string("..")}) {
      Unpack u(build(pkg("evil", {FileEntry{path, "owned"}})));
      EXPECT_FALSE(u.ok) << path;
      EXPECT_EQ("ERROR: installation of evil-7.1 failed: broken package\n", u.errors()) << path;
      EXPECT_TRUE(u.staged.empty()) << path;
      EXPECT_TRUE(u.package.files.empty()) << path;
    }
    // A disabled package's name is part of the path too.
    Unpack name(build(pkg("..", {FileEntry{"/etc/x", "owned"}})), true);
    EXPECT_FALSE(name.ok);
    EXPECT_TRUE(name.staged.empty());
    // Nothing was left behind in the temporary folders either.
    EXPECT_FALSE(pathExists("/etc/shadow"));
    // A skipped entry is never written, so its path does not matter.
    Unpack dir(build(pkg("dir", {FileEntry{"/../up", "", 0x41ED}, FileEntry{"/ok", "1"}})));
    EXPECT_TRUE(dir.ok);
    EXPECT_EQ(dir.package.files, (FileSet{"/flash/ok"}));
  }));
}

TEST(Payload, CutPayloads) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    const std::vector<FileEntry> first{FileEntry{"/bin/one", "first file"}};
    const std::vector<FileEntry> both{first[0], FileEntry{"/bin/two", bigContent(20000)}};
    const std::string plainFirst = plainEntries(first);
    const std::string plainBoth = plainEntries(both);
    ASSERT_EQ(plainFirst, plainBoth.substr(0, plainFirst.size()));
    const size_t secondData = plainFirst.size() + 30 + 8;  // head and "/bin/two"

    // Between entries: the first file is whole and the payload is complete.
    Unpack between(withPayloadPart(compress(plainFirst)));
    EXPECT_TRUE(between.ok);
    EXPECT_EQ("first file", between.staged_("/flash/bin/one"));

    // Inside the second entry's head: also a clean end.
    Unpack inHead(withPayloadPart(compress(plainBoth.substr(0, plainFirst.size() + 12))));
    EXPECT_TRUE(inHead.ok);
    EXPECT_EQ("", inHead.errors());

    // Inside the path, and inside the data: broken, with the first file kept
    // in the staged set for the caller to discard.
    for (size_t cut : {plainFirst.size() + 33, secondData + 100, plainBoth.size() - 1}) {
      Unpack u(withPayloadPart(compress(plainBoth.substr(0, cut))));
      EXPECT_FALSE(u.ok) << cut;
      EXPECT_EQ("ERROR: installation of cut-7.1 failed: broken package\n", u.errors()) << cut;
      EXPECT_EQ("first file", u.staged_("/flash/bin/one"));
    }

    // The zlib stream itself cut short inside the data, and corrupted.
    const std::string whole = compress(plainBoth);
    Unpack cutStream(withPayloadPart(whole.substr(0, whole.size() / 2)));
    EXPECT_FALSE(cutStream.ok);
    EXPECT_EQ("ERROR: installation of cut-7.1 failed: broken package\n", cutStream.errors());
    std::string corrupt = whole;
    corrupt[corrupt.size() / 2] ^= 0x55;
    corrupt[corrupt.size() / 2 + 1] ^= 0x55;
    Unpack bad(withPayloadPart(corrupt));
    EXPECT_FALSE(bad.ok);

    // Bytes after the end of the zlib stream are not interpreted.
    Unpack trailing(withPayloadPart(compress(plainBoth) + std::string(100, '\x7f')));
    EXPECT_TRUE(trailing.ok);
    EXPECT_EQ(2u, trailing.staged.size());
  }));
}

// Temporaries go next to the target when it has room, else to "/ram": with
// both small, the write runs out of space.
TEST(Payload, FullFileSystemIsDiskTooSmall) {
  ScratchRoot root;
  EXPECT_TRUE(runIsolated(
      [] {
        Unpack u(build(pkg("huge", {FileEntry{"/bin/small", "ok"}, FileEntry{"/bin/huge", bigContent(400000)}})));
        EXPECT_FALSE(u.ok);
        EXPECT_EQ("ERROR: installation of huge-7.1 failed: disk is too small\n", u.errors());
        // No room on flash nor in RAM: refused before a byte of it is written.
        EXPECT_EQ(u.package.files, (FileSet{"/flash/bin/small"}));
        EXPECT_EQ(u.staged.size(), 1u);
      },
      {{root.host("/flash"), "128k"}, {root.host("/ram"), "64k"}}, root.path()));
}

}  // namespace
