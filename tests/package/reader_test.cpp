// The package builder and reader together: what the reader decodes from
// the builder's files, what its running digest covers (recomputed here from
// the raw bytes), how it behaves on cut or hostile files, and the qpk tool.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <openssl/sha.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <sstream>
#include <thread>

#include "console/messages.h"
#include "package/package_reader.h"
#include "platform/eddsa.h"
#include "platform/endian.h"
#include "platform/fd_stream_buffer.h"
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

void acceptAll(PackageReader& reader) {
  for (int32_t t : {18, 1, 24, 16, 2, 23, 3, 19, 17, 20, 21, 4, 9}) reader.accept(t);
}

// A reader over bytes that accepts every known part type.
struct Reading {
  explicit Reading(const std::string& bytes, bool hashing = true) : source(bytes), reader(&source, hashing, nullptr) {
    acceptAll(reader);
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

std::string readPart(PackageReader& reader) {
  std::string data(reader.remaining(), '\0');
  reader.read(data.data(), data.size());
  return data;
}

std::string inflate(const std::string& compressed) {
  std::string out(1 << 20, '\0');
  uLongf n = out.size();
  EXPECT_EQ(Z_OK, uncompress(reinterpret_cast<Bytef*>(out.data()), &n,
                             reinterpret_cast<const Bytef*>(compressed.data()), compressed.size()));
  out.resize(n);
  return out;
}

bool eddsaValid(const uint8_t* digest, const uint8_t* signature) {
  uint8_t key[32];
  std::string error;
  EXPECT_TRUE(qpk::readKeyFile(INSTALLER_SOURCE_DIR "/keys/dev-eddsa.public", key, &error)) << error;
  return eddsa::verify({key, key + 32}, {digest, digest + 32}, {signature, signature + 64});
}

// On a type-9 part: closes the digest, checks it against the raw bytes from
// `from` to the part header, and checks the EdDSA half over it.
bool signedDigestHolds(PackageReader& reader, const std::string& file, size_t from, bool sha256) {
  reader.closeDigest();
  EXPECT_EQ(sha256, reader.digestIsSha256());
  uint8_t sig[132];
  return reader.partType() == PartSignature &&
         digestOf(file, from, reader.partStart(), sha256) == digestText(reader) &&
         reader.readUndigested(sig, 132) && eddsaValid(reader.digestBuffer(), sig + 68);
}

int countValidSignatures(const std::string& file) {
  std::stringbuf source(file);
  PackageReader reader(&source, true, nullptr);
  reader.accept(PartSignature);
  int valid = 0;
  while (reader.nextPart() == PartSignature) {
    reader.closeDigest();
    uint8_t sig[132];
    if (reader.readUndigested(sig, 132) && eddsaValid(reader.digestBuffer(), sig + 68)) ++valid;
  }
  return valid;
}

// Counts the bytes handed out in blocks, and may refuse to seek, as a pipe does.
struct CountingSource : std::stringbuf {
  CountingSource(const std::string& data, bool seekable) : std::stringbuf(data), seekable(seekable) {}
  std::streamsize xsgetn(char* s, std::streamsize n) override {
    std::streamsize k = std::stringbuf::xsgetn(s, n);
    delivered += static_cast<size_t>(k);
    return k;
  }
  pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode which) override {
    return seekable ? std::stringbuf::seekoff(off, dir, which) : pos_type(off_type(-1));
  }
  pos_type seekpos(pos_type pos, std::ios_base::openmode which) override {
    return seekable ? std::stringbuf::seekpos(pos, which) : pos_type(off_type(-1));
  }
  bool seekable;
  size_t delivered = 0;
};

std::string noise(size_t n) {
  std::string s(n, '\0');
  uint32_t x = 1;
  for (char& c : s) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
  return s;
}

}  // namespace

TEST(PackageReader, RoundTripsEveryPartForBothMagics) {
  for (uint32_t magic : {PackageMagic, UnrecordedMagic}) {
    qpk::PackageSpec s = fullSpec();
    s.magic = magic;
    std::string file = build(s);
    Reading readerOf(file);
    PackageReader& reader = readerOf.reader;
    EXPECT_EQ(magic, reader.magic());
    EXPECT_EQ(file.size(), reader.fileSize());
    PackageInfo info = readerOf.header();
    EXPECT_FALSE(info.isBundle);
    EXPECT_EQ("routing", info.name);
    EXPECT_EQ(s.version, info.version);
    EXPECT_EQ(s.buildTime, info.buildTime);
    EXPECT_EQ(s.flags, info.flags);
    EXPECT_EQ(*s.text24 + *s.architecture + *s.text2 + *s.note,
              info.text24 + info.architecture + info.text2 + info.note);
    ASSERT_EQ(1u, info.dependencies.size());
    EXPECT_EQ(s.dependencies[0].maxVersion, info.dependencies[0].maxVersion);
    ASSERT_EQ(2u, info.provides.size());
    EXPECT_EQ("bgp", info.provides[1].name);
    EXPECT_EQ(-3, info.provides[1].priority);
    ASSERT_EQ(1u, info.conflicts.size());
    EXPECT_TRUE(info.hasBlob);
    // The blob is left as the current part for the caller.
    ASSERT_EQ(PartBlob, reader.partType());
    EXPECT_EQ(*s.blob, readPart(reader));
    ASSERT_EQ(PartFiles, reader.nextPart());
    EXPECT_EQ(inflate(qpk::encodePayload(s.files, 0)), inflate(readPart(reader)));
    ASSERT_EQ(PartSignature, reader.nextPart());
    EXPECT_EQ(132u, reader.partLength());
    EXPECT_TRUE(signedDigestHolds(reader, file, partsOf(file)[0].offset, false));
    EXPECT_EQ(-1, reader.nextPart());
  }
}

TEST(PackageReader, HeaderFieldEdgesAndPartsOutOfOrder) {
  qpk::PackageSpec s;
  s.name = "sixteen-chars-ab";  // fills the field without a NUL
  s.flags = 3;
  for (bool writeFlags : {false, true}) {
    s.writeFlags = writeFlags;
    std::string file = build(s);
    EXPECT_EQ(writeFlags ? 36u : 32u, partsOf(file)[0].length);
    Reading readerOf(file, false);
    PackageInfo info = readerOf.header();
    EXPECT_EQ("sixteen-chars-ab", info.name);
    EXPECT_EQ(writeFlags ? 3u : 0u, info.flags);  // a 32-byte header has no flags word
    EXPECT_EQ("i386", info.architecture);
    EXPECT_FALSE(info.hasBlob);
  }
  // An architecture after the relations is outside the header group: left to the caller.
  Reading readerOf(parts({{PartHeader, qpk::encodeHeader("p", 1, 2, 0, true)},
                           {PartDependencies, qpk::encodeRelations({{"a", 0, 0, 0}})},
                           {PartArchitecture, "arm"}}));
  PackageReader& reader = readerOf.reader;
  PackageInfo info = readerOf.header();
  EXPECT_EQ("i386", info.architecture);
  EXPECT_EQ(1u, info.dependencies.size());
  EXPECT_EQ(PartArchitecture, reader.partType());
  EXPECT_EQ("arm", readPart(reader));
}

TEST(PackageReader, BundleDigestRestartsAtEveryMember) {
  for (bool sha256 : {false, true}) {
    qpk::BundleSpec b = bundle("all", "6.46.9", {spec("a", "6.46.9", {file("/a", "a")}), spec("b", "6.46.9")}, std::nullopt);
    b.note = "bundle note";
    b.memberList = std::vector<Relation>{relation("a"), relation("b")};
    b.sha256 = sha256;
    std::string bytes = buildBundle(b);
    std::vector<size_t> memberStarts;
    for (const PartSpan& p : partsOf(bytes)) {
      if (p.type == PartHeader) memberStarts.push_back(p.offset);
    }
    ASSERT_EQ(2u, memberStarts.size());
    Reading readerOf(bytes);
    PackageReader& reader = readerOf.reader;
    ASSERT_EQ(PartBundleHeader, reader.nextPart());
    PackageInfo info;
    ASSERT_TRUE(reader.readHeader(info));
    EXPECT_TRUE(info.isBundle);
    EXPECT_EQ("bundle note", info.note);
    ASSERT_EQ(PartBundleMembers, reader.partType());
    std::vector<Relation> members;
    ASSERT_TRUE(reader.readRelations(members));
    ASSERT_EQ(2u, members.size());
    for (int i = 0; i < 2; ++i) {
      ASSERT_EQ(PartHeader, reader.nextPart()) << i;
      ASSERT_TRUE(reader.readHeader(info));
      EXPECT_EQ(i == 0 ? "a" : "b", info.name);
      ASSERT_EQ(PartSignature, reader.nextPart());
      EXPECT_TRUE(signedDigestHolds(reader, bytes, memberStarts[i], sha256)) << i << sha256;
    }
    EXPECT_EQ(-1, reader.nextPart());
  }
}

// The digest closed at the first signature part, nothing else accepted,
// and whether it is SHA-256 ("S") or SHA-1 ("1") in front.
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
  std::string file = build(s);
  size_t at = 0;
  ASSERT_EQ(PartDigestSwitch, partsOf(file)[0].type);
  EXPECT_EQ("S" + digestOf(file, partsOf(file)[1].offset, partsOf(file).back().offset + 6, true), digestAtSignature(file, &at));
  // A switch after the header starts the digest there; a second one does not
  // restart it. Skipped parts (unknown, longer than a skip chunk) are digested.
  std::string hand = parts({{PartHeader, qpk::encodeHeader("p", 1, 2, 0, true)}, {PartNote, "before"},
                            {PartDigestSwitch, ""}, {200, std::string(40000, 'u')}, {PartDigestSwitch, "zz"},
                            {PartSignature, std::string(68, '\0')}});
  std::string digest = digestAtSignature(hand, &at);
  EXPECT_EQ("S" + digestOf(hand, partsOf(hand)[2].offset, at, true), digest);
  // Without a switch: SHA-1 from after the 8-byte file header (and 12 zero bytes after it).
  std::string plain = parts({{PartHeader, qpk::encodeHeader("p", 1, 2, 0, true)},
                             {PartText2, ""},  // zero length, not accepted
                             {PartSignature, std::string(68, '\0')}});
  digest = digestAtSignature(plain, &at);
  EXPECT_EQ("1" + digestOf(plain, 8, at, false), digest);
}

TEST(PackageReader, PipeAndFileGiveTheSamePartsAndDigest) {
  qpk::PackageSpec s = fullSpec();
  s.files.push_back({"/big", noise(300000)});
  const std::string file = build(s);
  auto collect = [](std::streambuf* source) {
    PackageReader reader(source, true, nullptr);
    for (int32_t t : {PartHeader, PartNote, PartSignature}) reader.accept(t);
    std::vector<std::pair<int, uint32_t>> seen;
    for (int t = reader.nextPart(); t >= 0; t = reader.nextPart()) {
      seen.push_back({t, reader.partStart()});
      if (t == PartSignature) reader.closeDigest();
    }
    return std::make_pair(seen, digestText(reader));
  };
  std::stringbuf fileSource(file);
  auto fromFile = collect(&fileSource);
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  std::thread writer([&] {
    for (size_t at = 0; at < file.size();) {
      ssize_t n = write(fds[1], file.data() + at, file.size() - at);
      if (n <= 0) break;
      at += static_cast<size_t>(n);
    }
    close(fds[1]);
  });
  FdStreamBuffer pipeSource(fds[0]);
  auto fromPipe = collect(&pipeSource);
  writer.join();
  close(fds[0]);
  EXPECT_EQ(3u, fromFile.first.size());
  EXPECT_EQ(fromFile, fromPipe);
  EXPECT_NE(std::string(32, '\0'), fromFile.second);
}

TEST(PackageReader, WithoutDigestOrSinkPayloadsAreSkippedBySeeking) {
  qpk::PackageSpec s;
  s.name = "big";
  s.files = {{"/noise", noise(1 << 20)}};
  std::string file = build(s);
  auto delivered = [&](bool hashing, bool seekable) {
    CountingSource source(file, seekable);
    PackageReader reader(&source, hashing, nullptr);
    reader.accept(PartHeader);
    reader.accept(PartSignature);
    EXPECT_EQ(PartHeader, reader.nextPart());
    EXPECT_EQ(PartSignature, reader.nextPart());
    return source.delivered;
  };
  EXPECT_LT(delivered(false, true), 200u);
  EXPECT_GT(delivered(true, true), 1000000u);    // the digest needs every byte
  EXPECT_GT(delivered(false, false), 1000000u);  // a pipe cannot seek
}

TEST(PackageReader, CopySinkGetsEveryByteOnceAndSeeksStayInThePart) {
  std::string file = build(fullSpec());
  std::stringbuf source(file), sink;
  PackageReader reader(&source, true, &sink);
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
  EXPECT_TRUE(signedDigestHolds(reader, file, partsOf(file)[0].offset, false));
  EXPECT_EQ(-1, reader.nextPart());
  EXPECT_EQ(file, sink.str());
}

TEST(PackageReader, ShortForeignAndCutFilesEndCleanly) {
  std::string good = build(fullSpec());
  std::vector<std::string> files = {"", good.substr(0, 7), std::string("\x1e\xf1\xd0\xbb", 4) + good.substr(4)};
  for (const PartSpan& p : partsOf(good)) {  // cut inside every part header and every part's data
    for (size_t cut : {p.offset + 3, p.offset + 6 + p.length / 2}) {
      if (cut < good.size()) files.push_back(good.substr(0, cut));
    }
  }
  for (const std::string& file : files) {
    for (bool hashing : {false, true}) {
      std::stringbuf source(file);
      PackageReader reader(&source, hashing, nullptr);
      acceptAll(reader);
      int steps = 0;
      PackageInfo info;
      for (int t = reader.nextPart(); t >= 0 && steps < 40; t = reader.nextPart(), ++steps) {
        if (t == PartHeader) reader.readHeader(info);
      }
      EXPECT_EQ(-1, reader.partType()) << file.size();
      EXPECT_LT(steps, 40);
      char c;
      EXPECT_FALSE(reader.read(&c, 1));
    }
  }
  std::stringbuf empty("");
  PackageReader reader(&empty, false, nullptr);
  EXPECT_EQ(0xFFFFFFFFu, reader.magic());
  // A zero-length part is accepted; a read on it fails and ends the file.
  std::stringbuf zeroSource(parts({{PartNote, ""}, {PartNote, "x"}}));
  PackageReader zeroReader(&zeroSource, false, nullptr);
  zeroReader.accept(PartNote);
  ASSERT_EQ(PartNote, zeroReader.nextPart());
  EXPECT_EQ(0u, zeroReader.partLength());
  char c;
  EXPECT_FALSE(zeroReader.read(&c, 1));
  EXPECT_EQ(-1, zeroReader.nextPart());
}

TEST(PackageReader, HostileLengthsDoNotAllocateOrLoop) {
  // A note claiming ~4 GiB in a file of 60 bytes.
  qpk::PartWriter w;
  w.part(PartHeader, qpk::encodeHeader("p", 1, 2, 0, true));
  w.raw(std::string("\x17\x00\xf0\xff\xff\xff", 6) + std::string(40, 'n'));
  std::string file = w.finish();
  Reading readerOf(file);
  EXPECT_EQ(std::string(40, 'n'), readerOf.header().note);
  EXPECT_EQ(-1, readerOf.reader.partType());
  // A relation list claiming 65535 entries in 40 bytes.
  std::stringbuf relSource(parts({{PartDependencies, std::string("\xff\xff", 2) + std::string(38, 'a')}}));
  PackageReader relReader(&relSource, false, nullptr);
  relReader.accept(PartDependencies);
  ASSERT_EQ(PartDependencies, relReader.nextPart());
  std::vector<Relation> list;
  EXPECT_FALSE(relReader.readRelations(list));
  EXPECT_EQ(1u, list.size());
  // A long text part keeps its first 4096 bytes and moves on.
  Reading longNote(parts({{PartHeader, qpk::encodeHeader("p", 1, 2, 0, true)},
                          {PartNote, std::string(10000, 'z')},
                          {PartFiles, ""}}));
  EXPECT_EQ(4096u, longNote.header().note.size());
  EXPECT_EQ(PartFiles, longNote.reader.partType());
}

TEST(InstallProgress, BarFillsWithThePositionAndStaysInBounds) {
  Repository& repo = Repository::instance();
  std::ostringstream console;
  setConsoleStream(&console);
  Package package("p");
  package.version = makeVersion(1, 0, Final, 0);
  auto barFor = [&](uint32_t declaredLength, uint32_t bodySize, uint32_t readTo) {
    qpk::PartWriter w;
    w.part(PartNote, std::string(bodySize - 6, 'x'));
    std::string file = w.finishWithLength(PackageMagic, declaredLength);
    std::stringbuf source(file);
    PackageReader reader(&source, false, nullptr);
    reader.accept(PartNote);
    EXPECT_EQ(PartNote, reader.nextPart());
    reader.seekg(readTo, std::ios_base::cur);
    repo.progressLine.clear();
    installProgress(package, reader);
    EXPECT_EQ(77u, repo.progressLine.size()) << repo.progressLine;
    return repo.progressLine;
  };
  const std::string prefix = "installing p-1.0 [";
  const size_t width = 76 - prefix.size();
  const std::string empty = prefix + std::string(width, ' ') + "]";
  EXPECT_EQ(empty, barFor(1000000, 100, 0));
  EXPECT_EQ(prefix + std::string(width, '#') + "]", barFor(100, 100, 94));  // at the file size: full
  EXPECT_EQ(barFor(100, 100, 94), barFor(10, 100, 94));                    // past it: clamped
  EXPECT_EQ(empty, barFor(0xFFFFFFF8u, 100, 50));  // a declared size of 0 must not divide by zero
  EXPECT_EQ(std::string(width / 2, '#'), barFor(1000, 1000, 498).substr(prefix.size(), width / 2));
  package.disabled = true;
  EXPECT_EQ("installing  (disabled) p-1.0 [", barFor(100, 100, 0).substr(0, 30));
  repo.progressLine.clear();
  setConsoleStream(nullptr);
}

// ---- the builder ----

TEST(Builder, EncodingsAreByteExact) {
  std::string h = qpk::encodeHeader("abc", 0x062E6609, 0x01020304, 0x3, true);
  EXPECT_EQ(std::string("abc") + std::string(13, '\0') + std::string("\x09\x66\x2e\x06\x04\x03\x02\x01", 8) +
                std::string(8, '\0') + std::string("\x03\0\0\0", 4),
            h);
  EXPECT_EQ(32u, qpk::encodeHeader("abc", 1, 2, 3, false).size());
  EXPECT_EQ(std::string("\x01\x00", 2) + "dep" + std::string(13, '\0') +
                std::string("\0\0\0\x01\0\0\0\0\0\0\0\x02\xfe\xff\xff\xff", 16),
            qpk::encodeRelations({{"dep", 0x01000000, 0x02000000, -2}}));
  EXPECT_EQ(std::string("\xed\x81", 2) + std::string(21, '\0') + "\x07" + std::string("\x03\0\0\0\x02\0", 6) +
                "/a" + "xyz",
            inflate(qpk::encodePayload({{"/a", "xyz", 0x81ED, 7}}, 9)));
}

TEST(Builder, PartOrderSignatureFormsAndSplicedBundles) {
  qpk::PackageSpec s = fullSpec();
  s.sha256 = true;
  std::vector<uint16_t> types;
  for (const PartSpan& part : partsOf(build(s))) types.push_back(part.type);
  EXPECT_EQ((std::vector<uint16_t>{25, 1, 24, 16, 2, 23, 3, 19, 17, 21, 4, 9}), types);
  s.signature = qpk::SignatureForm::Short;
  EXPECT_EQ(68u, partsOf(build(s)).back().length);
  s.signature = qpk::SignatureForm::None;
  EXPECT_EQ(PartFiles, partsOf(build(s)).back().type);
  // A bundle spliced from signed member files keeps every member signature
  // valid; a member signed over the other digest would not verify in it.
  for (bool sha256 : {false, true}) {
    qpk::BundleSpec b = bundle("bun", "1.0", {});
    b.sha256 = sha256;
    std::vector<std::string> memberFiles;
    for (const char* name : {"a", "b", "c"}) {
      b.members.push_back(spec(name, "1.0", {file(std::string("/") + name, name)}));
      b.members.back().sha256 = sha256;
      memberFiles.push_back(build(b.members.back()));
    }
    std::string spliced, error;
    EXPECT_EQ(3, countValidSignatures(buildBundle(b)));
    ASSERT_TRUE(qpk::spliceBundle(b, memberFiles, &spliced, &error)) << error;
    EXPECT_EQ(3, countValidSignatures(spliced));
    EXPECT_EQ(partsOf(buildBundle(b)).size(), partsOf(spliced).size());
    b.sha256 = !sha256;
    EXPECT_FALSE(qpk::spliceBundle(b, memberFiles, &spliced, &error));
  }
}

// ---- the qpk tool: a tree of files built, signed and shown ----

TEST(QpkTool, BuildThenInfo) {
  ScratchRoot root;
  const std::string dir = root.host("/tmp");
  root.write("/tmp/tree/bin/hello", "hello\n");
  root.write("/tmp/tree/bin/tool", "x", 0750);
  ::symlink("tool", root.host("/tmp/tree/link").c_str());  // only regular files are taken
  RunResult built = runProgram({QPK_BINARY, "build", "--name", "hello", "--version", "6.46rc2", "--build-time",
                                "1700000000", "--depends", "system:6.46:6.46.9", "--boot-image", "--sha256", "--files",
                                dir + "/tree", "--key-eddsa", INSTALLER_SOURCE_DIR "/keys/dev-eddsa.private", "-o",
                                dir + "/hello.qpk"},
                               {}, "");
  ASSERT_EQ(0, built.status) << built.err;
  EXPECT_EQ(built.err, "qpk build: warning: skipped symbolic link " + dir + "/tree/link\n");
  const std::string bytes = root.read("/tmp/hello.qpk");
  EXPECT_EQ(1, countValidSignatures(bytes));
  RunResult shown = runProgram({QPK_BINARY, "info", dir + "/hello.qpk"}, {}, "");
  EXPECT_EQ(0, shown.status) << shown.err;
  for (const char* line : {"matches the file size", "type 25 (digest switch), length 0", "name: \"hello\"",
                           "version: 6.46rc2 (0x062E6302)", "flags: 0x1 boot-image", "\"system\" min 6.46 max 6.46.9",
                           "100644          6 \"/bin/hello\"", "100750          1 \"/bin/tool\"",
                           "long form: legacy and Ed25519 over SHA-256"}) {
    EXPECT_NE(std::string::npos, shown.out.find(line)) << line << "\n" << shown.out;
  }
  EXPECT_EQ(std::string::npos, shown.out.find("link"));
  root.write("/tmp/cut.qpk", bytes.substr(0, bytes.size() - 10));
  RunResult cut = runProgram({QPK_BINARY, "info", dir + "/cut.qpk"}, {}, "");
  EXPECT_NE(0, cut.status);
  EXPECT_NE(std::string::npos, cut.out.find("DOES NOT match"));
  EXPECT_NE(std::string::npos, cut.out.find("part cut short"));
  RunResult notPackage = runProgram({QPK_BINARY, "info", QPK_BINARY}, {}, "");
  EXPECT_NE(std::string::npos, notPackage.err.find("not a package file"));
  // A payload entry with an empty path is shown, and the listing ends.
  root.write("/tmp/empty.qpk", build(spec("e", "1.0", {qpk::FileEntry{"", "data", 0x81A4, 0}})));
  RunResult empty = runProgram({QPK_BINARY, "info", dir + "/empty.qpk"}, {}, "");
  EXPECT_NE(std::string::npos, empty.out.find("100644          4 \"\"")) << empty.out;
  for (const char* command : {"info", "verify"}) {
    RunResult folder = runProgram({QPK_BINARY, command, dir}, {}, "");
    EXPECT_EQ(1, folder.status) << command;
    EXPECT_EQ(std::string("qpk ") + command + ": " + dir + " is not a file\n", folder.err);
  }
}

// The JSON documents hold the facts the text shows, every byte of a name
// readable back, and the status is the text's.
TEST(QpkTool, JsonTellsWhatTheTextTells) {
  ScratchRoot root;
  qpk::PackageSpec p = spec("hello", "6.46rc2", {file("/bin/hello", "hi\n", 0x81ED)});
  p.dependencies = {relation("system", "6.46")};
  p.note = "caf\xe9 \"x\"";
  root.write("/tmp/p.qpk", build(p));
  root.write("/tmp/b.qpk", buildBundle(bundle("duo", "7.1", {spec("a", "7.1"), spec("b", "7.1")})));
  root.write("/tmp/cut.qpk", build(p).substr(0, 60));
  auto both = [&](const char* command, const char* file, int status) {
    RunResult text = runProgram({QPK_BINARY, command, root.host(file)}, {}, "");
    RunResult json = runProgram({QPK_BINARY, command, "--json", root.host(file)}, {}, "");
    EXPECT_EQ(status, text.status);
    EXPECT_EQ(status, json.status);
    return std::make_pair(text.out, nlohmann::json::parse(json.out, nullptr, false));
  };
  for (const char* file : {"/tmp/p.qpk", "/tmp/cut.qpk"}) {
    const auto [text, info] = both("info", file, file == std::string("/tmp/p.qpk") ? 0 : 1);
    ASSERT_FALSE(info.is_discarded()) << file;
    EXPECT_EQ(info["complete"], file == std::string("/tmp/p.qpk"));
    for (const auto& part : info["parts"]) {
      char line[128];
      std::snprintf(line, sizeof line, "  offset %d: type %d (%s), length %d\n", int(part["offset"]), int(part["type"]),
                    std::string(part["name"]).c_str(), int(part["length"]));
      EXPECT_NE(std::string::npos, text.find(line)) << line << text;
      EXPECT_EQ(part.contains("cut_short"), text.find(std::string(line) + "    part cut short") != std::string::npos);
      // What the text decodes of each kind of part, the document holds.
      for (const auto& [field, expected] : std::vector<std::pair<std::string, nlohmann::json>>{
               {"/header/version_text", "6.46rc2"}, {"/text", "caf\u00e9 \"x\""},  // Latin-1, read back as Unicode
               {"/relations/0/min_text", "6.46"}, {"/entries/0/mode", 0100755}, {"/entries/0/size", 3},
               {"/entries/0/path", "/bin/hello"}, {"/form", "long"}}) {
        const nlohmann::json::json_pointer at(field);
        if (part.contains(at)) {
          EXPECT_EQ(expected, part[at]) << field;
        }
      }
    }
  }
  const auto [text, verify] = both("verify", "/tmp/b.qpk", 0);
  ASSERT_FALSE(verify.is_discarded());
  EXPECT_EQ("duo", verify["bundle"]["name"]);
  ASSERT_EQ(2u, verify["packages"].size());
  for (const auto& package : verify["packages"]) {
    EXPECT_NE(std::string::npos, text.find("package " + std::string(package["name"]) + "-7.1\n  digest:    sha1\n"
                                           "  signature: long\n  eddsa:     valid\n"));
    EXPECT_EQ(true, package["accepted"]);
  }
  EXPECT_EQ(true, verify["sealed"]);
  EXPECT_EQ(true, verify["accepted"]);
}

// What the router would refuse, qpk refuses to make, and says why.
TEST(QpkTool, RefusesToMakeWhatTheRouterRefuses) {
  ScratchRoot root;
  const std::string dir = root.host("/tmp");
  root.write("/tmp/plain/bin/x", "x");
  root.write("/tmp/space/www/My Page.html", "x");
  root.write("/tmp/pdb/var/pdb/phantom/version", "1 1\n");
  root.write("/tmp/blob", "b");
  const std::string key = INSTALLER_SOURCE_DIR "/keys/dev-eddsa.private";
  auto package = [&](const std::string& name, const std::string& files, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {QPK_BINARY, "build", "--name", name, "--version", "1.0", "--files",
                                     dir + "/" + files, "--key-eddsa", key, "-o", dir + "/" + name + ".qpk"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  ASSERT_EQ(0, runProgram(package("one", "plain"), {}, "").status);
  ASSERT_EQ(0, runProgram(package("dup", "plain"), {}, "").status);
  const std::string bundle = " (the router would refuse it)\n";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string err;
  } rows[] = {
      {package(".hidden", "plain"), 1, "package name \".hidden\" begins with \".\"" + bundle},
      {package("image", "plain"), 1, "package name \"image\" is \"image\", the name of the piped package's copy" + bundle},
      {package("ok", "plain", {"--depends", "two words"}), 1, "relation name \"two words\" holds whitespace or a control byte" + bundle},
      {package("ok", "space"), 1, "payload path \"/www/My Page.html\" holds a space, a newline or a NUL" + bundle},
      {package("ok", "pdb"), 1, "payload path \"/var/pdb/phantom/version\" lands in the package database" + bundle},
      {package("ok", "plain", {"--state-only"}), 1,
       "a state-only package needs --blob FILE: its entry is kept only by its stored image" + bundle},
      {{QPK_BINARY, "build-bundle", "--name", "b", "--version", "1.0", "--blob", dir + "/blob", "-o", dir + "/b.qpk"}, 2,
       "a bundle needs at least one member file\n"},
      {{QPK_BINARY, "build-bundle", "--name", "b", "--version", "1.0", "-o", dir + "/b.qpk", dir + "/one.qpk"}, 2,
       "a bundle needs --blob FILE: the router keeps a bundle only by its stored image\n"},
      {{QPK_BINARY, "build-bundle", "--name", "dup", "--version", "1.0", "--blob", dir + "/blob", "-o", dir + "/b.qpk",
        dir + "/one.qpk", dir + "/dup.qpk"},
       1, "member " + dir + "/dup.qpk is named like its bundle" + bundle},
  };
  for (const auto& row : rows) {
    const RunResult run = runProgram(row.args, {}, "");
    EXPECT_EQ(row.status, run.status) << row.err;
    const std::string command = row.args[1] == "build" ? "qpk build: " : "qpk build-bundle: ";
    EXPECT_EQ(command + row.err, run.err);
  }
  EXPECT_FALSE(pathExists(dir + "/b.qpk"));
}
