// The package reader over the builder's files: what it decodes, what its digest covers, cut and hostile files.
#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <sstream>

#include "console/messages.h"
#include "package/package_reader.h"
#include "repo/repository.h"
#include "support/fixtures.h"

using namespace fixtures;

namespace {

qpk::PackageSpec fullSpec() {
  return {.name = "routing", .version = makeVersion(6, 46, Final, 9), .buildTime = 1700000000,
          .flags = kFlagBootImage | kFlagStateOnly, .text24 = "text twenty-four", .architecture = "mipsbe",
          .text2 = "text two", .note = "a note",
          .dependencies = {{"system", makeVersion(6, 46, Final, 0), makeVersion(6, 46, Final, 9), 0}},
          .provides = {{"routing", 0, 0, 5}, {"bgp", makeVersion(1, 0, Final, 0), 0, -3}},
          .conflicts = {{"old-routing", 0, 0, 0}}, .blob = std::string("\x00\x01\x02blob", 7),
          .files = {{"/bin/ospf", "ospf binary", 0x81ED, 0}, {"/etc", "", 0x41ED, 0}}};
}

// "S" (SHA-256) or "1", then the digest of file[from, to) in 32 bytes; closedDigest gives the reader's so.
std::string digestOf(const std::string& file, size_t from, size_t to, bool sha256) {
  std::string out(32, '\0');
  const auto* p = reinterpret_cast<const unsigned char*>(file.data()) + from;
  auto* o = reinterpret_cast<unsigned char*>(out.data());
  sha256 ? SHA256(p, to - from, o) : SHA1(p, to - from, o);
  return (sha256 ? "S" : "1") + out;
}

std::string closedDigest(PackageReader& reader) {
  reader.closeDigest();
  return (reader.digestIsSha256() ? "S" : "1") + std::string(reinterpret_cast<const char*>(reader.digestBuffer()), 32);
}

// A reader over bytes that accepts every known part type.
struct Reading {
  explicit Reading(const std::string& bytes, bool hashing = true) : source(bytes), reader(&source, hashing, nullptr) {
    for (int32_t t : {18, 1, 24, 16, 2, 23, 3, 19, 17, 20, 21, 4, 9}) reader.accept(t);
  }
  // Reads the header group; the reader stays on the part after it.
  PackageInfo header() {
    PackageInfo info;
    EXPECT_EQ(PartHeader, reader.nextPart());
    EXPECT_TRUE(reader.readHeader(info));
    return info;
  }
  std::stringbuf source;
  PackageReader reader;
};

std::string parts(const std::vector<std::pair<uint16_t, std::string>>& list) {
  qpk::PartWriter w;
  for (const auto& [type, data] : list) w.part(type, data);
  return w.finish();
}

std::string readPart(PackageReader& reader) {
  std::string data(reader.remaining(), '\0');
  reader.read(data.data(), data.size());
  return data;
}

}  // namespace

// Every header field, the blob left to the caller, the payload and the signed digest, for both magics.
TEST(PackageReader, RoundTripsEveryPartForBothMagics) {
  for (uint32_t magic : {PackageMagic, UnrecordedMagic}) {
    qpk::PackageSpec s = fullSpec();
    s.magic = magic;
    std::string file = build(s);
    Reading readerOf(file);
    PackageReader& reader = readerOf.reader;
    EXPECT_EQ(std::make_pair(magic, uint32_t(file.size())), std::make_pair(reader.magic(), reader.fileSize()));
    PackageInfo info = readerOf.header();
    EXPECT_EQ(std::make_tuple(std::string("routing"), s.version, s.buildTime, s.flags, false, true),
              std::make_tuple(info.name, info.version, info.buildTime, info.flags, info.isBundle, info.hasBlob));
    EXPECT_EQ(*s.text24 + "|" + *s.architecture + "|" + *s.text2 + "|" + *s.note,
              info.text24 + "|" + info.architecture + "|" + info.text2 + "|" + info.note);
    EXPECT_EQ(qpk::encodeRelations(s.dependencies) + qpk::encodeRelations(s.provides) +
                  qpk::encodeRelations(s.conflicts),
              qpk::encodeRelations(info.dependencies) + qpk::encodeRelations(info.provides) +
                  qpk::encodeRelations(info.conflicts));
    ASSERT_EQ(PartBlob, reader.partType());
    EXPECT_EQ(*s.blob, readPart(reader));
    ASSERT_EQ(PartFiles, reader.nextPart());
    EXPECT_EQ(file.substr(partsOf(file)[9].offset + 6, partsOf(file)[9].length), readPart(reader));
    ASSERT_EQ(PartSignature, reader.nextPart());
    EXPECT_EQ(digestOf(file, partsOf(file)[0].offset, reader.partStart(), false), closedDigest(reader));
    EXPECT_EQ(-1, reader.nextPart());
  }
}

// A 16-byte name without NUL, a header without flags (read as 0), "i386" by default.
TEST(PackageReader, HeaderFieldEdges) {
  qpk::PackageSpec s = spec("sixteen-chars-ab", "1.0");
  s.flags = 3;
  s.writeFlags = false;
  Reading readerOf(build(s), false);
  PackageInfo info = readerOf.header();
  EXPECT_EQ(std::make_tuple(std::string("sixteen-chars-ab"), 0u, std::string("i386"), false, int32_t(PartFiles)),
            std::make_tuple(info.name, info.flags, info.architecture, info.hasBlob, readerOf.reader.partType()));
}

// The signed digest covers skipped parts: SHA-256 from the first switch (at most back to the header), else SHA-1.
TEST(PackageReader, DigestCoversSkippedPartsFromTheFirstSha256Switch) {
  qpk::PackageSpec s = fullSpec();
  s.sha256 = true;
  const std::string switched = build(s);
  ASSERT_EQ(PartDigestSwitch, partsOf(switched)[0].type);
  const std::string hand = parts({{PartHeader, qpk::encodeHeader("p", 1, 2, 0, true)}, {PartNote, "before"},
                                  {PartDigestSwitch, ""}, {200, std::string(40000, 'u')}, {PartDigestSwitch, "zz"},
                                  {PartSignature, std::string(68, '\0')}});
  const std::string plain = parts({{PartHeader, qpk::encodeHeader("p", 1, 2, 0, true)},
                                   {PartText2, ""},  // zero length, not accepted
                                   {PartSignature, std::string(68, '\0')}});
  const std::tuple<std::string, size_t, bool> rows[] = {
      {switched, partsOf(switched)[1].offset, true}, {hand, partsOf(hand)[2].offset, true}, {plain, 8, false}};
  for (const auto& [bytes, from, sha256] : rows) {
    std::stringbuf source(bytes);
    PackageReader reader(&source, true, nullptr);
    reader.accept(PartSignature);
    ASSERT_EQ(PartSignature, reader.nextPart());
    EXPECT_EQ(digestOf(bytes, from, partsOf(bytes).back().offset + 6, sha256), closedDigest(reader)) << from;
  }
}

// Bytes put back and taken again pass digest and copy once, in order; seeks stay in the part.
TEST(PackageReader, PutBackAndSeeksPassEveryByteOnce) {
  const std::string file = build(fullSpec()) + std::string("\x17\0\x02\0\0\0ab", 8);  // a note after the signature
  for (const auto& [hashing, copying] : {std::pair{true, true}, {true, false}, {false, true}}) {
    std::stringbuf source(file), sink;
    PackageReader reader(&source, hashing, copying ? &sink : nullptr);
    for (int32_t t : {PartHeader, PartNote, PartSignature}) reader.accept(t);
    ASSERT_EQ(PartHeader, reader.nextPart());
    ASSERT_EQ(PartNote, reader.nextPart());
    EXPECT_EQ(std::char_traits<char>::eof(), reader.rdbuf()->sungetc());  // nothing taken yet
    EXPECT_EQ('a', reader.get());
    reader.unget();
    EXPECT_EQ(0, reader.tellg());
    ASSERT_TRUE(reader.seekg(2, std::ios_base::cur));
    EXPECT_EQ('n', reader.get());
    EXPECT_FALSE(reader.seekg(4, std::ios_base::cur));  // past the part
    reader.clear();
    ASSERT_TRUE(reader.seekg(0, std::ios_base::end));
    EXPECT_EQ(0u, reader.remaining());
    ASSERT_EQ(PartSignature, reader.nextPart());
    if (hashing) {
      EXPECT_EQ(digestOf(file, partsOf(file)[0].offset, reader.partStart(), false), closedDigest(reader));
    }
    EXPECT_EQ(file[partsOf(file)[10].offset + 6], reader.get());  // put back: read again, copied once
    reader.unget();
    uint8_t signature[132];
    EXPECT_TRUE(reader.readUndigested(signature, 132));
    EXPECT_EQ(PartNote, reader.nextPart());
    EXPECT_EQ("ab", readPart(reader));
    EXPECT_EQ(-1, reader.nextPart());
    EXPECT_EQ(copying ? file : "", sink.str());
  }
}

// Short, foreign and cut files end the walk cleanly: the magic, then each part as "type:bytes read/length".
TEST(PackageReader, ShortForeignAndCutFilesEndCleanly) {
  const std::string good = build(fullSpec());
  const std::string head = "3134255390 1:36/36 24:16/16 16:6/6 2:8/8";
  const std::pair<std::string, std::string> rows[] = {
      {"", "4294967295"},
      {good.substr(0, 7), "4294967295"},
      {"\x1e\xf1\xd0\xbb" + good.substr(4), "3151032606"},
      {good.substr(0, partsOf(good)[4].offset + 3), head},  // a cut part head ends the walk
      {good.substr(0, partsOf(good)[9].offset + 20), head + " 23:6/6 3:34/34 19:66/66 17:34/34 21:7/7 4:14/45"},
      {parts({{PartNote, ""}, {0, "zero"}, {PartNote, "xy"}}).substr(0, 31), "3134255390 23:0/0 0:4/4 23:1/2"},
  };
  for (const auto& [file, walk] : rows) {
    for (bool hashing : {false, true}) {
      std::stringbuf source(file);
      PackageReader reader(&source, hashing, nullptr);
      reader.acceptAll();
      std::string seen = std::to_string(reader.magic());
      for (int t = reader.nextPart(), steps = 0; t >= 0 && steps < 40; t = reader.nextPart(), ++steps) {
        std::string data(reader.partLength(), '\0');
        reader.read(data.data(), data.size());
        seen += " " + std::to_string(t) + ":" + std::to_string(reader.gcount()) + "/" + std::to_string(data.size());
      }
      EXPECT_EQ(walk, seen) << file.size();
    }
  }
}

TEST(PackageReader, HostileLengthsDoNotAllocateOrLoop) {
  // A note claiming ~4 GiB in a file of 60 bytes.
  qpk::PartWriter w;
  w.part(PartHeader, qpk::encodeHeader("p", 1, 2, 0, true));
  w.raw(std::string("\x17\x00\xf0\xff\xff\xff", 6) + std::string(40, 'n'));
  Reading readerOf(w.finish());
  EXPECT_EQ(std::string(40, 'n'), readerOf.header().note);
  EXPECT_EQ(-1, readerOf.reader.partType());
  // A relation list claiming 65535 entries in 40 bytes.
  Reading relations(parts({{PartDependencies, std::string("\xff\xff", 2) + std::string(38, 'a')}}));
  ASSERT_EQ(PartDependencies, relations.reader.nextPart());
  std::vector<Relation> list;
  EXPECT_FALSE(relations.reader.readRelations(list));
  EXPECT_EQ(1u, list.size());
  // A long text part keeps its first 4096 bytes and moves on.
  Reading longNote(parts({{PartHeader, qpk::encodeHeader("p", 1, 2, 0, true)},
                          {PartNote, std::string(10000, 'z')}, {PartFiles, ""}}));
  EXPECT_EQ(4096u, longNote.header().note.size());
  EXPECT_EQ(PartFiles, longNote.reader.partType());
}

// The bar fills with the position in the declared size, in bounds also for a size too small or overflowing.
TEST(InstallProgress, BarFillsWithThePositionAndStaysInBounds) {
  std::ostringstream console;
  setConsoleStream(&console);
  Package package("p");
  package.version = makeVersion(1, 0, Final, 0);
  const std::string prefix = "installing p-1.0 [";
  const size_t width = 76 - prefix.size();
  const struct {
    bool disabled; uint32_t declared, readTo;
    std::string bar;
  } rows[] = {
      {false, 1000000, 0, prefix + std::string(width, ' ') + "]"},
      {false, 10, 94, prefix + std::string(width, '#') + "]"},
      {false, 0xFFFFFFF8u, 50, prefix + std::string(width, ' ') + "]"},
      {false, 200, 94, prefix + std::string(30, '#') + std::string(width - 30, ' ') + "]"},
      {true, 1000000, 0, "installing  (disabled) p-1.0 [" + std::string(46, ' ') + "]"},
  };
  for (const auto& row : rows) {
    qpk::PartWriter w;
    w.part(PartNote, std::string(94, 'x'));
    Reading readerOf(w.finishWithLength(PackageMagic, row.declared), false);
    EXPECT_EQ(PartNote, readerOf.reader.nextPart());
    readerOf.reader.seekg(row.readTo, std::ios_base::cur);
    package.disabled = row.disabled;
    installProgress(package, readerOf.reader);
    EXPECT_EQ(row.bar, Repository::instance().progressLine) << row.declared << " " << row.readTo;
  }
  Repository::instance().progressLine.clear();
  setConsoleStream(nullptr);
}
