// The package reader over the builder's files: what it decodes, what its digest covers, cut and hostile files.
#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <sstream>

#include "console/messages.h"
#include "package/package_reader.h"
#include "platform/eddsa.h"
#include "repo/repository.h"
#include "support/fixtures.h"

using namespace fixtures;

namespace {

qpk::PackageSpec fullSpec() {
  qpk::PackageSpec s;
  s.name = "routing";
  s.version = makeVersion(6, 46, Final, 9);
  s.buildTime = 1700000000;
  s.flags = kFlagBootImage | kFlagStateOnly;
  s.text24 = "text twenty-four";
  s.architecture = "mipsbe";
  s.text2 = "text two";
  s.note = "a note";
  s.dependencies = {{"system", makeVersion(6, 46, Final, 0), makeVersion(6, 46, Final, 9), 0}};
  s.provides = {{"routing", 0, 0, 5}, {"bgp", makeVersion(1, 0, Final, 0), 0, -3}};
  s.conflicts = {{"old-routing", 0, 0, 0}};
  s.blob = std::string("\x00\x01\x02blob", 7);
  s.files = {{"/bin/ospf", "ospf binary", 0x81ED, 0}, {"/etc", "", 0x41ED, 0}};
  return s;
}

// SHA-1 (or SHA-256) of file[from, to) in a 32-byte buffer, as the reader keeps it.
std::string digestOf(const std::string& file, size_t from, size_t to, bool sha256) {
  std::string out(32, '\0');
  const auto* p = reinterpret_cast<const unsigned char*>(file.data()) + from;
  auto* o = reinterpret_cast<unsigned char*>(out.data());
  sha256 ? SHA256(p, to - from, o) : SHA1(p, to - from, o);
  return out;
}

std::string digestText(const PackageReader& reader) {
  return std::string(reinterpret_cast<const char*>(reader.digestBuffer()), 32);
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

// A file of the given parts, each {type, data}, in order.
std::string parts(const std::vector<std::pair<uint16_t, std::string>>& list) {
  qpk::PartWriter w;
  for (const auto& [type, data] : list) w.part(type, data);
  return w.finish();
}

std::vector<std::tuple<std::string, Version, Version, int32_t>> rows(const std::vector<Relation>& list) {
  std::vector<std::tuple<std::string, Version, Version, int32_t>> out;
  for (const Relation& r : list) out.emplace_back(r.name, r.minVersion, r.maxVersion, r.priority);
  return out;
}

std::string readPart(PackageReader& reader) {
  std::string data(reader.remaining(), '\0');
  reader.read(data.data(), data.size());
  return data;
}

// On a signature part: the digest is that of file[from, part) and the EdDSA half holds over it.
bool signedDigestHolds(PackageReader& reader, const std::string& file, size_t from, bool sha256) {
  reader.closeDigest();
  EXPECT_EQ(sha256, reader.digestIsSha256());
  uint8_t key[32], sig[132];
  std::string error;
  EXPECT_TRUE(qpk::readKeyFile(INSTALLER_SOURCE_DIR "/keys/dev-eddsa.public", key, &error)) << error;
  return reader.partType() == PartSignature && digestOf(file, from, reader.partStart(), sha256) == digestText(reader) &&
         reader.readUndigested(sig, 132) &&
         eddsa::verify({key, key + 32}, {reader.digestBuffer(), reader.digestBuffer() + 32}, {sig + 68, sig + 132});
}

struct CountingSource : std::stringbuf {
  using std::stringbuf::stringbuf;
  std::streamsize xsgetn(char* s, std::streamsize n) override {
    std::streamsize k = std::stringbuf::xsgetn(s, n);
    delivered += static_cast<size_t>(k);
    return k;
  }
  size_t delivered = 0;
};

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
    EXPECT_FALSE(info.isBundle);
    EXPECT_EQ(std::make_tuple(std::string("routing"), s.version, s.buildTime, s.flags),
              std::make_tuple(info.name, info.version, info.buildTime, info.flags));
    EXPECT_EQ(*s.text24 + "|" + *s.architecture + "|" + *s.text2 + "|" + *s.note,
              info.text24 + "|" + info.architecture + "|" + info.text2 + "|" + info.note);
    for (auto [ours, theirs] : {std::pair{&s.dependencies, &info.dependencies}, {&s.provides, &info.provides},
                                {&s.conflicts, &info.conflicts}}) {
      EXPECT_EQ(rows(*ours), rows(*theirs));
    }
    EXPECT_TRUE(info.hasBlob);
    ASSERT_EQ(PartBlob, reader.partType());
    EXPECT_EQ(*s.blob, readPart(reader));
    ASSERT_EQ(PartFiles, reader.nextPart());
    EXPECT_EQ(file.substr(partsOf(file)[9].offset + 6, partsOf(file)[9].length), readPart(reader));
    ASSERT_EQ(PartSignature, reader.nextPart());
    EXPECT_TRUE(signedDigestHolds(reader, file, partsOf(file)[0].offset, false));
    EXPECT_EQ(-1, reader.nextPart());
  }
}

// A 16-byte name without NUL, a header without flags, "i386" by default, a header part after the relations.
TEST(PackageReader, HeaderFieldEdgesAndPartsOutOfOrder) {
  qpk::PackageSpec s;
  s.name = "sixteen-chars-ab";
  s.flags = 3;
  for (bool writeFlags : {false, true}) {
    s.writeFlags = writeFlags;
    Reading readerOf(build(s), false);
    PackageInfo info = readerOf.header();
    EXPECT_EQ(std::make_tuple(std::string("sixteen-chars-ab"), writeFlags ? 3u : 0u, std::string("i386"), false,
                              int32_t(PartFiles)),
              std::make_tuple(info.name, info.flags, info.architecture, info.hasBlob, readerOf.reader.partType()));
  }
  Reading readerOf(parts({{PartHeader, qpk::encodeHeader("p", 1, 2, 0, true)},
                           {PartDependencies, qpk::encodeRelations({{"a", 0, 0, 0}})},
                           {PartArchitecture, "arm"}}));
  const PackageInfo info = readerOf.header();
  EXPECT_EQ(std::make_tuple(std::string("i386"), size_t(1), int32_t(PartArchitecture)),
            std::make_tuple(info.architecture, info.dependencies.size(), readerOf.reader.partType()));
}

// The digest closed at the first signature part, nothing else accepted, "S" (SHA-256) or "1" in front.
std::string digestAtSignature(const std::string& bytes, size_t* signatureAt) {
  std::stringbuf source(bytes);
  PackageReader reader(&source, true, nullptr);
  reader.accept(PartSignature);
  EXPECT_EQ(PartSignature, reader.nextPart());
  reader.closeDigest();
  *signatureAt = reader.partStart();
  return (reader.digestIsSha256() ? "S" : "1") + digestText(reader);
}

TEST(PackageReader, DigestCoversSkippedPartsFromTheFirstSha256Switch) {
  // A switch before the header: the header restarts the SHA-256 digest.
  qpk::PackageSpec s = fullSpec();
  s.sha256 = true;
  const std::string file = build(s);
  size_t at = 0;
  ASSERT_EQ(PartDigestSwitch, partsOf(file)[0].type);
  EXPECT_EQ("S" + digestOf(file, partsOf(file)[1].offset, partsOf(file).back().offset + 6, true),
            digestAtSignature(file, &at));
  // A switch after the header starts the digest there, a second does not; skipped parts are digested.
  const std::string hand = parts({{PartHeader, qpk::encodeHeader("p", 1, 2, 0, true)}, {PartNote, "before"},
                                  {PartDigestSwitch, ""}, {200, std::string(40000, 'u')}, {PartDigestSwitch, "zz"},
                                  {PartSignature, std::string(68, '\0')}});
  std::string digest = digestAtSignature(hand, &at);
  EXPECT_EQ("S" + digestOf(hand, partsOf(hand)[2].offset, at, true), digest);
  // Without a switch: SHA-1 from after the 8-byte file header (and 12 zero bytes after it).
  const std::string plain = parts({{PartHeader, qpk::encodeHeader("p", 1, 2, 0, true)},
                                   {PartText2, ""},  // zero length, not accepted
                                   {PartSignature, std::string(68, '\0')}});
  digest = digestAtSignature(plain, &at);
  EXPECT_EQ("1" + digestOf(plain, 8, at, false), digest);
}

// Loading stored images must not read their payloads: without digest or copy, skipping seeks.
TEST(PackageReader, WithoutDigestOrSinkPayloadsAreSkippedBySeeking) {
  const std::string bytes = build(spec("big", "1.0", {file("/noise", std::string(1 << 20, 'x'))}));
  for (bool hashing : {false, true}) {
    CountingSource source(bytes);
    PackageReader reader(&source, hashing, nullptr);
    reader.accept(PartSignature);
    EXPECT_EQ(PartSignature, reader.nextPart());
    EXPECT_EQ(hashing, source.delivered > 200) << source.delivered;
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
    ASSERT_TRUE(reader.seekg(3, std::ios_base::cur));
    EXPECT_EQ(0u, reader.remaining());
    ASSERT_EQ(PartSignature, reader.nextPart());
    if (hashing) {
      EXPECT_TRUE(signedDigestHolds(reader, file, partsOf(file)[0].offset, false));
    } else {  // a byte put back is read again without the digest
      uint8_t signature[132];
      EXPECT_EQ(file[partsOf(file)[10].offset + 6], reader.get());
      reader.unget();
      EXPECT_TRUE(reader.readUndigested(signature, 132));
    }
    EXPECT_EQ(PartNote, reader.nextPart());
    EXPECT_EQ("ab", readPart(reader));
    EXPECT_EQ(-1, reader.nextPart());
    EXPECT_EQ(copying ? file : "", sink.str());
  }
}

// Short, foreign and cut files end the walk cleanly; zero-length and type-0 parts are parts.
TEST(PackageReader, ShortForeignAndCutFilesEndCleanly) {
  const std::string good = build(fullSpec());
  const size_t note = partsOf(good)[4].offset, payload = partsOf(good)[9].offset;
  ASSERT_EQ(PartFiles, partsOf(good)[9].type);
  const std::pair<std::string, uint32_t> files[] = {{"", 0xFFFFFFFFu},
                                                    {good.substr(0, 7), 0xFFFFFFFFu},
                                                    {"\x1e\xf1\xd0\xbb" + good.substr(4), 0xBBD0F11Eu},
                                                    {good.substr(0, note + 3), PackageMagic},
                                                    {good.substr(0, payload + 20), PackageMagic}};
  for (const auto& [file, magic] : files) {
    for (bool hashing : {false, true}) {
      Reading readerOf(file, hashing);
      EXPECT_EQ(magic, readerOf.reader.magic());
      int steps = 0;
      PackageInfo info;
      for (int t = readerOf.reader.nextPart(); t >= 0 && steps < 40; t = readerOf.reader.nextPart(), ++steps) {
        if (t == PartHeader) readerOf.reader.readHeader(info);
      }
      EXPECT_EQ(-1, readerOf.reader.partType()) << file.size();
      char c;
      EXPECT_FALSE(readerOf.reader.read(&c, 1));
    }
  }
  std::stringbuf source(parts({{PartNote, ""}, {0, "zero"}, {PartNote, "x"}}));
  PackageReader reader(&source, false, nullptr);
  reader.acceptAll();
  ASSERT_EQ(PartNote, reader.nextPart());
  EXPECT_EQ(0u, reader.partLength());
  EXPECT_EQ(0, reader.nextPart());
  EXPECT_EQ("zero", readPart(reader));
  EXPECT_EQ(PartNote, reader.nextPart());
  char c[2];
  EXPECT_FALSE(reader.read(c, 2));  // a short read ends the file
  EXPECT_EQ(-1, reader.nextPart());
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

// The bar fills with the position in the declared size, stays in bounds, and survives a declared size of 0.
TEST(InstallProgress, BarFillsWithThePositionAndStaysInBounds) {
  std::ostringstream console;
  setConsoleStream(&console);
  Package package("p");
  package.version = makeVersion(1, 0, Final, 0);
  const std::string prefix = "installing p-1.0 [";
  const size_t width = 76 - prefix.size();
  const struct {
    bool disabled;
    uint32_t declared, body, readTo;
    std::string bar;
  } rows[] = {
      {false, 1000000, 100, 0, prefix + std::string(width, ' ') + "]"},
      {false, 100, 100, 94, prefix + std::string(width, '#') + "]"},
      {false, 10, 100, 94, prefix + std::string(width, '#') + "]"},
      {false, 0xFFFFFFF8u, 100, 50, prefix + std::string(width, ' ') + "]"},
      {false, 1000, 1000, 498, prefix + std::string(width / 2, '#') + std::string(width - width / 2, ' ') + "]"},
      {true, 1000000, 100, 0, "installing  (disabled) p-1.0 [" + std::string(46, ' ') + "]"},
  };
  for (const auto& row : rows) {
    qpk::PartWriter w;
    w.part(PartNote, std::string(row.body - 6, 'x'));
    std::stringbuf source(w.finishWithLength(PackageMagic, row.declared));
    PackageReader reader(&source, false, nullptr);
    reader.accept(PartNote);
    EXPECT_EQ(PartNote, reader.nextPart());
    reader.seekg(row.readTo, std::ios_base::cur);
    package.disabled = row.disabled;
    installProgress(package, reader);
    EXPECT_EQ(row.bar, Repository::instance().progressLine) << row.declared << " " << row.readTo;
  }
  Repository::instance().progressLine.clear();
  setConsoleStream(nullptr);
}

// The builder's encodings against fixed bytes, so that builder and reader cannot drift apart together.
TEST(Builder, EncodingsAreByteExact) {
  EXPECT_EQ(std::string("abc") + std::string(13, '\0') + std::string("\x09\x66\x2e\x06\x04\x03\x02\x01", 8) +
                std::string(8, '\0') + std::string("\x03\0\0\0", 4),
            qpk::encodeHeader("abc", 0x062E6609, 0x01020304, 0x3, true));
  EXPECT_EQ(32u, qpk::encodeHeader("abc", 1, 2, 3, false).size());
  EXPECT_EQ(std::string("\x01\x00", 2) + "dep" + std::string(13, '\0') +
                std::string("\0\0\0\x01\0\0\0\0\0\0\0\x02\xfe\xff\xff\xff", 16),
            qpk::encodeRelations({{"dep", 0x01000000, 0x02000000, -2}}));
  EXPECT_EQ(std::string("\xed\x81", 2) + std::string(21, '\0') + "\x07" + std::string("\x03\0\0\0\x02\0", 6) +
                "/a" + "xyz",
            qpk::encodePayload({{"/a", "xyz", 0x81ED, 7}}, 0).substr(7, 35));
}
