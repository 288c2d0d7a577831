// The package reader against files from our own builder: what it decodes,
// what its running digest covers, and how it behaves on cut or hostile files.
#include <gtest/gtest.h>
#include <unistd.h>
#include <sys/wait.h>
#include <zlib.h>

#include <sstream>

#include "model/package.h"
#include "package/package_reader.h"
#include "platform/eddsa.h"
#include "platform/fd_stream_buffer.h"
#include "reader_support.h"
#include "console/messages.h"
#include "repo/repository.h"

using namespace readertest;

namespace {

qpk::PackageSpec fullSpec() {
  qpk::PackageSpec spec;
  spec.name = "routing";
  spec.version = makeVersion(6, 46, Final, 9);
  spec.buildTime = 1700000000;
  spec.flags = kFlagBootImage | kFlagStateOnly;
  spec.text24 = "text twenty-four";
  spec.architecture = "mipsbe";
  spec.text2 = "text two";
  spec.note = "a note";
  spec.dependencies = {{"system", makeVersion(6, 46, Final, 0), makeVersion(6, 46, Final, 9), 0}};
  spec.provides = {{"routing", 0, 0, 5}, {"bgp", makeVersion(1, 0, Final, 0), 0, -3}};
  spec.conflicts = {{"old-routing", 0, 0, 0}};
  spec.blob = std::string("\x00\x01\x02blob", 7);
  spec.files = {{"/bin/ospf", "ospf binary", 0x81ED, 0}, {"/etc", "", 0x41ED, 0}};
  return spec;
}

std::string inflate(const std::string& compressed) {
  std::string out(1 << 20, '\0');
  uLongf n = out.size();
  EXPECT_EQ(Z_OK, uncompress(reinterpret_cast<Bytef*>(out.data()), &n,
                             reinterpret_cast<const Bytef*>(compressed.data()), compressed.size()));
  out.resize(n);
  return out;
}

std::string readPart(PackageReader& reader) {
  std::string data(reader.remaining(), '\0');
  reader.read(data.data(), data.size());
  return data;
}

std::string devEddsaPublic() {
  uint8_t key[32];
  std::string error;
  EXPECT_TRUE(qpk::readKeyFile(std::string(INSTALLER_SOURCE_DIR) + "/keys/dev-eddsa.public", key, &error)) << error;
  return std::string(reinterpret_cast<char*>(key), 32);
}

bool eddsaValid(const uint8_t* digest, const uint8_t* signature) {
  std::string key = devEddsaPublic();
  const auto* k = reinterpret_cast<const uint8_t*>(key.data());
  return eddsa::verify({k, k + 32}, {digest, digest + 32}, {signature, signature + 64});
}

// Walks a reader to the next type-9 part, closes the digest there and checks
// it against the raw bytes from `from` to the end of the part header.
void expectSignedDigest(PackageReader& reader, const std::string& file, size_t from, bool sha256) {
  ASSERT_EQ(PartSignature, reader.partType());
  reader.closeDigest();
  size_t to = reader.partStart();
  EXPECT_EQ(digestOf(file, from, to, sha256), digestText(reader));
  EXPECT_EQ(sha256, reader.digestIsSha256());
  uint8_t sig[132];
  ASSERT_TRUE(reader.readUndigested(sig, 132));
  EXPECT_TRUE(eddsaValid(reader.digestBuffer(), sig + 68));
}

}  // namespace

TEST(PackageReader, RoundTripsEveryPartForBothMagics) {
  for (uint32_t magic : {PackageMagic, UnrecordedMagic}) {
    qpk::PackageSpec spec = fullSpec();
    spec.magic = magic;
    std::string file = build(spec);
    std::stringbuf source(file);
    PackageReader reader(&source, true, nullptr);
    acceptAll(reader);
    EXPECT_EQ(magic, reader.magic());
    EXPECT_EQ(file.size(), reader.fileSize());
    ASSERT_EQ(PartHeader, reader.nextPart());
    PackageInfo info;
    ASSERT_TRUE(reader.readHeader(info));
    EXPECT_FALSE(info.isBundle);
    EXPECT_EQ("routing", info.name);
    EXPECT_EQ(spec.version, info.version);
    EXPECT_EQ(spec.buildTime, info.buildTime);
    EXPECT_EQ(spec.flags, info.flags);
    EXPECT_EQ(*spec.text24, info.text24);
    EXPECT_EQ(*spec.architecture, info.architecture);
    EXPECT_EQ(*spec.text2, info.text2);
    EXPECT_EQ(*spec.note, info.note);
    ASSERT_EQ(1u, info.dependencies.size());
    EXPECT_EQ("system", info.dependencies[0].name);
    EXPECT_EQ(spec.dependencies[0].minVersion, info.dependencies[0].minVersion);
    EXPECT_EQ(spec.dependencies[0].maxVersion, info.dependencies[0].maxVersion);
    ASSERT_EQ(2u, info.provides.size());
    EXPECT_EQ("bgp", info.provides[1].name);
    EXPECT_EQ(-3, info.provides[1].priority);
    EXPECT_EQ(5, info.provides[0].priority);
    ASSERT_EQ(1u, info.conflicts.size());
    EXPECT_EQ("old-routing", info.conflicts[0].name);
    EXPECT_TRUE(info.hasBlob);
    // The blob is left as the current part for the caller.
    ASSERT_EQ(PartBlob, reader.partType());
    EXPECT_EQ(*spec.blob, readPart(reader));
    ASSERT_EQ(PartFiles, reader.nextPart());
    EXPECT_EQ(inflate(qpk::encodePayload(spec.files, 0)), inflate(readPart(reader)));
    ASSERT_EQ(PartSignature, reader.nextPart());
    EXPECT_EQ(132u, reader.partLength());
    expectSignedDigest(reader, file, walk(file)[0].offset, false);
    EXPECT_EQ(-1, reader.nextPart());
  }
}

TEST(PackageReader, HeaderDefaultsAndFieldEdges) {
  qpk::PackageSpec spec;
  spec.name = "sixteen-chars-ab";  // fills the field without a NUL
  spec.version = makeVersion(7, 1, Beta, 4);
  spec.flags = 3;
  spec.writeFlags = false;
  std::string file = build(spec);
  EXPECT_EQ(32u, walk(file)[0].length);
  std::stringbuf source(file);
  PackageReader reader(&source, false, nullptr);
  acceptAll(reader);
  ASSERT_EQ(PartHeader, reader.nextPart());
  PackageInfo info;
  ASSERT_TRUE(reader.readHeader(info));
  EXPECT_EQ("sixteen-chars-ab", info.name);
  EXPECT_EQ(0u, info.flags);  // 32-byte header: no flags word
  EXPECT_EQ("i386", info.architecture);
  EXPECT_FALSE(info.hasBlob);
  EXPECT_EQ(PartFiles, reader.partType());

  spec.writeFlags = true;
  file = build(spec);
  EXPECT_EQ(36u, walk(file)[0].length);
  std::stringbuf source36(file);
  PackageReader reader36(&source36, false, nullptr);
  acceptAll(reader36);
  ASSERT_EQ(PartHeader, reader36.nextPart());
  ASSERT_TRUE(reader36.readHeader(info));
  EXPECT_EQ(3u, info.flags);
}

TEST(PackageReader, HeaderGroupOutOfOrderIsLeftToTheCaller) {
  qpk::PartWriter w;
  w.part(PartHeader, qpk::encodeHeader("p", 1, 2, 0, true));
  w.part(PartDependencies, qpk::encodeRelations({{"a", 0, 0, 0}}));
  w.part(PartArchitecture, "arm");
  std::string file = w.finish();
  std::stringbuf source(file);
  PackageReader reader(&source, true, nullptr);
  acceptAll(reader);
  ASSERT_EQ(PartHeader, reader.nextPart());
  PackageInfo info;
  ASSERT_TRUE(reader.readHeader(info));
  EXPECT_EQ("i386", info.architecture);
  EXPECT_EQ(1u, info.dependencies.size());
  EXPECT_EQ(PartArchitecture, reader.partType());
  EXPECT_EQ("arm", readPart(reader));
}

TEST(PackageReader, BundleDigestRestartsAtEveryMember) {
  for (bool sha256 : {false, true}) {
    qpk::BundleSpec bundle;
    bundle.name = "all";
    bundle.version = makeVersion(6, 46, Final, 9);
    bundle.note = "bundle note";
    bundle.memberList = std::vector<Relation>{{"a", 0, 0, 0}, {"b", 0, 0, 0}};
    bundle.sha256 = sha256;
    for (const char* name : {"a", "b"}) {
      qpk::PackageSpec m;
      m.name = name;
      m.version = bundle.version;
      m.files = {{std::string("/") + name, name}};
      bundle.members.push_back(m);
    }
    std::string file = buildBundle(bundle);
    std::vector<size_t> memberStarts;
    for (const Part& p : walk(file)) {
      if (p.type == PartHeader) memberStarts.push_back(p.offset);
    }
    ASSERT_EQ(2u, memberStarts.size());

    std::stringbuf source(file);
    PackageReader reader(&source, true, nullptr);
    for (int32_t t : {1, 18, 20, 16, 23, 3, 19, 17, 21, 4, 9}) reader.accept(t);
    ASSERT_EQ(PartBundleHeader, reader.nextPart());
    PackageInfo b;
    ASSERT_TRUE(reader.readHeader(b));
    EXPECT_TRUE(b.isBundle);
    EXPECT_EQ("all", b.name);
    EXPECT_EQ("bundle note", b.note);
    ASSERT_EQ(PartBundleMembers, reader.partType());
    std::vector<Relation> members;
    ASSERT_TRUE(reader.readRelations(members));
    ASSERT_EQ(2u, members.size());
    EXPECT_EQ("b", members[1].name);
    for (int i = 0; i < 2; ++i) {
      ASSERT_EQ(PartHeader, reader.nextPart()) << i;
      PackageInfo m;
      ASSERT_TRUE(reader.readHeader(m));
      EXPECT_EQ(i == 0 ? "a" : "b", m.name);
      ASSERT_EQ(PartFiles, reader.partType());
      ASSERT_EQ(PartSignature, reader.nextPart());
      expectSignedDigest(reader, file, memberStarts[i], sha256);
    }
    EXPECT_EQ(-1, reader.nextPart());
  }
}

TEST(PackageReader, Sha256FromTheFirstSwitchAndNotRestartedByASecond) {
  // A standalone package with the switch first: the type-1 header restarts
  // the SHA-256 digest, so it covers the package from its header on.
  qpk::PackageSpec spec = fullSpec();
  spec.sha256 = true;
  std::string file = build(spec);
  std::vector<Part> parts = walk(file);
  ASSERT_EQ(PartDigestSwitch, parts[0].type);
  {
    std::stringbuf source(file);
    PackageReader reader(&source, true, nullptr);
    reader.accept(PartSignature);
    ASSERT_EQ(PartSignature, reader.nextPart());
    expectSignedDigest(reader, file, parts[1].offset, true);
  }
  // A switch after the header starts the digest at the switch; a second
  // switch does not restart it.
  qpk::PartWriter w;
  w.part(PartHeader, qpk::encodeHeader("p", 1, 2, 0, true));
  w.part(PartNote, "before");
  w.part(PartDigestSwitch, "");
  w.part(77, std::string(3000, 'x'));
  w.part(PartDigestSwitch, "zz");
  w.part(PartSignature, std::string(68, '\0'));
  std::string hand = w.finish();
  std::vector<Part> handParts = walk(hand);
  std::stringbuf source(hand);
  PackageReader reader(&source, true, nullptr);
  reader.accept(PartSignature);
  ASSERT_EQ(PartSignature, reader.nextPart());
  reader.closeDigest();
  EXPECT_TRUE(reader.digestIsSha256());
  EXPECT_EQ(digestOf(hand, handParts[2].offset, reader.partStart(), true), digestText(reader));
}

TEST(PackageReader, SkippedPartsAreDigestedAndTheFileHeaderIsNot) {
  qpk::PartWriter w;
  w.part(PartHeader, qpk::encodeHeader("p", 1, 2, 0, true));
  w.part(200, std::string(40000, 'u'));  // unknown type, longer than a skip chunk
  w.part(PartText2, "");                 // zero length, not accepted
  w.part(PartFiles, qpk::encodePayload({{"/x", "y"}}, 6));
  w.part(PartSignature, std::string(68, '\0'));
  std::string file = w.finish();
  std::stringbuf source(file);
  PackageReader reader(&source, true, nullptr);
  reader.accept(PartHeader);
  reader.accept(PartSignature);
  ASSERT_EQ(PartHeader, reader.nextPart());
  ASSERT_EQ(PartSignature, reader.nextPart());
  reader.closeDigest();
  EXPECT_FALSE(reader.digestIsSha256());
  EXPECT_EQ(digestOf(file, 8, reader.partStart(), false), digestText(reader));
  // A SHA-1 fills 20 bytes; the rest of the buffer stays zero.
  EXPECT_EQ(std::string(12, '\0'), digestText(reader).substr(20));
}

TEST(PackageReader, PipeAndFileGiveTheSamePartsAndDigest) {
  qpk::PackageSpec spec = fullSpec();
  std::string big(300000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 2654435761u) >> 13);
  spec.files.push_back({"/big", big});
  std::string file = build(spec);

  auto collect = [](std::streambuf* source) {
    PackageReader reader(source, true, nullptr);
    reader.accept(PartHeader);
    reader.accept(PartNote);
    reader.accept(PartSignature);
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
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(fds[0]);
    size_t at = 0;
    while (at < file.size()) {
      ssize_t n = write(fds[1], file.data() + at, file.size() - at);
      if (n <= 0) _exit(1);
      at += static_cast<size_t>(n);
    }
    _exit(0);
  }
  close(fds[1]);
  std::pair<std::vector<std::pair<int, uint32_t>>, std::string> fromPipe;
  {
    FdStreamBuffer pipeSource(fds[0]);
    fromPipe = collect(&pipeSource);
  }
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(fromFile.first, fromPipe.first);
  EXPECT_EQ(3u, fromFile.first.size());
  EXPECT_EQ(fromFile.second, fromPipe.second);
  EXPECT_NE(std::string(32, '\0'), fromFile.second);
}

TEST(PackageReader, WithoutDigestOrSinkPayloadsAreSkippedBySeeking) {
  qpk::PackageSpec spec;
  spec.name = "big";
  std::string noise(1 << 20, '\0');
  uint32_t x = 1;
  for (char& c : noise) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  spec.files = {{"/noise", noise}};
  std::string file = build(spec);
  ASSERT_GT(file.size(), 1000000u);
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

TEST(PackageReader, CopySinkGetsEveryByteOnceEvenAfterPutBack) {
  std::string file = build(fullSpec());
  std::stringbuf source(file);
  std::stringbuf sink;
  PackageReader reader(&source, true, &sink);
  reader.accept(PartHeader);
  reader.accept(PartNote);
  reader.accept(PartSignature);
  ASSERT_EQ(PartHeader, reader.nextPart());
  ASSERT_EQ(PartNote, reader.nextPart());
  // Put-back of a byte before anything is taken is refused.
  EXPECT_EQ(std::char_traits<char>::eof(), reader.rdbuf()->sungetc());
  int c = reader.get();
  EXPECT_EQ('a', c);
  EXPECT_EQ(1, reader.tellg());
  reader.unget();
  EXPECT_TRUE(reader.good());
  EXPECT_EQ(0, reader.tellg());
  char all[6];
  ASSERT_TRUE(reader.read(all, 6));
  EXPECT_EQ("a note", std::string(all, 6));
  ASSERT_EQ(PartSignature, reader.nextPart());
  reader.closeDigest();
  EXPECT_EQ(digestOf(file, walk(file)[0].offset, reader.partStart(), false), digestText(reader));
  uint8_t sig[132];
  ASSERT_TRUE(reader.readUndigested(sig, 132));
  EXPECT_EQ(-1, reader.nextPart());
  EXPECT_EQ(file, sink.str());
}

TEST(PackageReader, SeekWithinAPart) {
  qpk::PartWriter w;
  w.part(PartText2, "0123456789");
  w.part(PartNote, "n");
  std::string file = w.finish();
  for (bool hashing : {false, true}) {
    std::stringbuf source(file);
    PackageReader reader(&source, hashing, nullptr);
    reader.accept(PartText2);
    reader.accept(PartNote);
    ASSERT_EQ(PartText2, reader.nextPart());
    ASSERT_TRUE(reader.seekg(4, std::ios_base::cur));
    EXPECT_EQ('4', reader.get());
    EXPECT_EQ(5, reader.tellg());
    EXPECT_FALSE(reader.seekg(6, std::ios_base::cur));  // past the part
    reader.clear();
    ASSERT_TRUE(reader.seekg(5, std::ios_base::cur));
    EXPECT_EQ(0u, reader.remaining());
    EXPECT_EQ(PartNote, reader.nextPart());
    EXPECT_EQ('n', reader.get());
  }
}

TEST(PackageReader, ShortOrForeignFilesEndAtOnce) {
  std::string good = build(fullSpec());
  for (const std::string& file : {std::string(), good.substr(0, 7), std::string("\x1e\xf1\xd0\xbb", 4) + good.substr(4)}) {
    std::stringbuf source(file);
    PackageReader reader(&source, true, nullptr);
    acceptAll(reader);
    EXPECT_EQ(-1, reader.nextPart());
    EXPECT_EQ(-1, reader.nextPart());
    EXPECT_EQ(-1, reader.partType());
    char c;
    EXPECT_FALSE(reader.read(&c, 1));
  }
  std::stringbuf empty("");
  PackageReader reader(&empty, false, nullptr);
  EXPECT_EQ(0xFFFFFFFFu, reader.magic());
  EXPECT_EQ(0u, reader.fileSize());
}

TEST(PackageReader, CutFilesEndCleanly) {
  std::string file = build(fullSpec());
  std::vector<Part> parts = walk(file);
  // Cut inside every part header and inside every part's data.
  for (const Part& p : parts) {
    for (size_t cut : {p.offset + 3, p.offset + 6 + p.length / 2}) {
      if (cut >= file.size()) continue;
      std::string shortFile = file.substr(0, cut);
      for (bool hashing : {false, true}) {
        std::stringbuf source(shortFile);
        PackageReader reader(&source, hashing, nullptr);
        acceptAll(reader);
        int steps = 0;
        PackageInfo info;
        for (int t = reader.nextPart(); t >= 0 && steps < 40; t = reader.nextPart(), ++steps) {
          if (t == PartHeader) reader.readHeader(info);
        }
        EXPECT_EQ(-1, reader.partType());
        EXPECT_LT(steps, 40);
      }
    }
  }
}

TEST(PackageReader, ZeroLengthPartIsAcceptedAndAReadOnItFails) {
  qpk::PartWriter w;
  w.part(PartNote, "");
  w.part(PartNote, "x");
  std::string file = w.finish();
  std::stringbuf source(file);
  PackageReader reader(&source, false, nullptr);
  reader.accept(PartNote);
  ASSERT_EQ(PartNote, reader.nextPart());
  EXPECT_EQ(0u, reader.partLength());
  ASSERT_EQ(PartNote, reader.nextPart());  // moves past it
  std::stringbuf again(file);
  PackageReader reader2(&again, false, nullptr);
  reader2.accept(PartNote);
  ASSERT_EQ(PartNote, reader2.nextPart());
  char c;
  EXPECT_FALSE(reader2.read(&c, 1));
  EXPECT_EQ(-1, reader2.nextPart());  // the failed read stays
}

TEST(PackageReader, HostileLengthsDoNotAllocateOrLoop) {
  qpk::PartWriter w;
  w.part(PartHeader, qpk::encodeHeader("p", 1, 2, 0, true));
  w.raw(std::string("\x17\x00\xf0\xff\xff\xff", 6));  // a note claiming ~4 GiB
  w.raw(std::string(40, 'n'));
  std::string file = w.finish();
  ASSERT_LT(file.size(), 100u);
  std::stringbuf source(file);
  PackageReader reader(&source, true, nullptr);
  acceptAll(reader);
  ASSERT_EQ(PartHeader, reader.nextPart());
  PackageInfo info;
  EXPECT_TRUE(reader.readHeader(info));
  EXPECT_EQ(std::string(40, 'n'), info.note);
  EXPECT_EQ(-1, reader.partType());

  // A relation list claiming 65535 entries in 40 bytes.
  qpk::PartWriter r;
  r.part(PartDependencies, std::string("\xff\xff", 2) + std::string(38, 'a'));
  std::string rel = r.finish();
  std::stringbuf relSource(rel);
  PackageReader relReader(&relSource, false, nullptr);
  relReader.accept(PartDependencies);
  ASSERT_EQ(PartDependencies, relReader.nextPart());
  std::vector<Relation> list;
  EXPECT_FALSE(relReader.readRelations(list));
  EXPECT_EQ(1u, list.size());

  // A long text part keeps its first 4096 bytes and moves on.
  qpk::PartWriter t;
  t.part(PartHeader, qpk::encodeHeader("p", 1, 2, 0, true));
  t.part(PartNote, std::string(10000, 'z'));
  t.part(PartFiles, "");
  std::string longNote = t.finish();
  std::stringbuf longSource(longNote);
  PackageReader longReader(&longSource, true, nullptr);
  acceptAll(longReader);
  ASSERT_EQ(PartHeader, longReader.nextPart());
  PackageInfo l;
  ASSERT_TRUE(longReader.readHeader(l));
  EXPECT_EQ(4096u, l.note.size());
  EXPECT_EQ(PartFiles, longReader.partType());
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
    std::string line = repo.progressLine;
    EXPECT_EQ(77u, line.size()) << line;
    return line;
  };
  std::string prefix = "installing p-1.0 [";
  std::string empty = barFor(1000000, 100, 0);
  EXPECT_EQ(prefix + std::string(76 - prefix.size(), ' ') + "]", empty);
  // Position equal to the file size (8 + 100): full.
  std::string full = barFor(100, 100, 94);
  EXPECT_EQ(prefix + std::string(76 - prefix.size(), '#') + "]", full);
  // Past the declared size: clamped to full.
  EXPECT_EQ(full, barFor(10, 100, 94));
  // A declared size of 0 (length field 0xFFFFFFF8) must not divide by zero.
  EXPECT_EQ(empty, barFor(0xFFFFFFF8u, 100, 50));
  // Halfway through a 1008-byte file.
  std::string half = barFor(1000, 1000, 498);  // position 8 + 6 + 490 = 504
  EXPECT_EQ(std::string((76 - prefix.size()) / 2, '#'), half.substr(prefix.size(), (76 - prefix.size()) / 2));

  package.disabled = true;
  std::string disabled = barFor(100, 100, 0);
  EXPECT_EQ("installing  (disabled) p-1.0 [", disabled.substr(0, 30));
  repo.progressLine.clear();
  setConsoleStream(nullptr);
}
