// The package builder's encodings, its refusals, bundles of signed members,
// and the qpk tool through its binary.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "package/package_reader.h"
#include "platform/eddsa.h"
#include "reader_support.h"
#include "support/scratch_root.h"

using namespace readertest;

namespace {

// A fresh folder below the build's test-tmp folder, removed at the end of the test.
class TempDir {
 public:
  TempDir() {
    std::string base = INSTALLER_TEST_TMP;
    mkdir(base.c_str(), 0755);
    std::string pattern = base + "/builder-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    EXPECT_NE(nullptr, mkdtemp(buf.data()));
    path_ = buf.data();
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  operator const std::string&() const { return path_; }
  std::string operator+(const char* tail) const { return path_ + tail; }

 private:
  std::string path_;
};

void writeFile(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Verifies every member signature of a file as the installer's reader sees it.
int countValidSignatures(const std::string& file) {
  uint8_t key[32];
  std::string error;
  EXPECT_TRUE(qpk::readKeyFile(std::string(INSTALLER_SOURCE_DIR) + "/keys/dev-eddsa.public", key, &error));
  std::stringbuf source(file);
  PackageReader reader(&source, true, nullptr);
  reader.accept(PartSignature);
  int valid = 0;
  while (reader.nextPart() == PartSignature) {
    reader.closeDigest();
    uint8_t sig[132];
    if (!reader.readUndigested(sig, 132)) break;
    const uint8_t* d = reader.digestBuffer();
    if (eddsa::verify({key, key + 32}, {d, d + 32}, {sig + 68, sig + 132})) ++valid;
  }
  return valid;
}

}  // namespace

TEST(Builder, EncodingsAreByteExact) {
  std::string h = qpk::encodeHeader("abc", 0x062E6609, 0x01020304, 0x3, true);
  ASSERT_EQ(36u, h.size());
  EXPECT_EQ(std::string("abc") + std::string(13, '\0'), h.substr(0, 16));
  EXPECT_EQ(std::string("\x09\x66\x2e\x06\x04\x03\x02\x01", 8), h.substr(16, 8));
  EXPECT_EQ(std::string(8, '\0'), h.substr(24, 8));
  EXPECT_EQ(std::string("\x03\0\0\0", 4), h.substr(32));
  EXPECT_EQ(32u, qpk::encodeHeader("abc", 1, 2, 3, false).size());

  std::string r = qpk::encodeRelations({{"dep", 0x01000000, 0x02000000, -2}});
  ASSERT_EQ(34u, r.size());
  EXPECT_EQ(std::string("\x01\x00", 2), r.substr(0, 2));
  EXPECT_EQ(std::string("\0\0\0\x01\0\0\0\0\0\0\0\x02\xfe\xff\xff\xff", 16), r.substr(18));

  std::string p = qpk::encodePayload({{"/a", "xyz", 0x81ED, 7}}, 9);
  std::string plain(64, '\0');
  uLongf n = plain.size();
  ASSERT_EQ(Z_OK, uncompress(reinterpret_cast<Bytef*>(plain.data()), &n,
                             reinterpret_cast<const Bytef*>(p.data()), p.size()));
  plain.resize(n);
  std::string expected = std::string("\xed\x81", 2) + std::string(21, '\0') + "\x07" +
                         std::string("\x03\0\0\0\x02\0", 6) + "/a" + "xyz";
  EXPECT_EQ(expected, plain);
}

TEST(Builder, PartOrderAndSignatureForms) {
  qpk::PackageSpec spec;
  spec.name = "p";
  spec.note = "n";
  spec.architecture = "arm";
  spec.text2 = "t2";
  spec.text24 = "t24";
  spec.dependencies = {{"d"}};
  spec.provides = {{"v"}};
  spec.conflicts = {{"c"}};
  spec.blob = "b";
  spec.sha256 = true;
  std::vector<uint16_t> types;
  for (const Part& part : walk(build(spec))) types.push_back(part.type);
  EXPECT_EQ((std::vector<uint16_t>{25, 1, 24, 16, 2, 23, 3, 19, 17, 21, 4, 9}), types);

  spec = qpk::PackageSpec();
  spec.name = "p";
  spec.hasPayload = false;
  spec.signature = qpk::SignatureForm::None;
  std::string file = build(spec);
  ASSERT_EQ(1u, walk(file).size());
  EXPECT_EQ(file.size() - 8, decodeFixed32(reinterpret_cast<const uint8_t*>(file.data()) + 4));

  spec.signature = qpk::SignatureForm::Short;
  std::vector<Part> parts = walk(build(spec));
  ASSERT_EQ(2u, parts.size());
  EXPECT_EQ(68u, parts[1].length);

  // Keys that cannot make the asked-for form are refused with a reason.
  std::string out, error;
  qpk::SigningKeys none;
  EXPECT_FALSE(qpk::buildPackage(spec, none, &out, &error));
  EXPECT_FALSE(error.empty());
  spec.signature = qpk::SignatureForm::Long;
  EXPECT_FALSE(qpk::buildPackage(spec, none, &out, &error));
  spec.name = "seventeen-chars-x";
  EXPECT_FALSE(qpk::buildPackage(spec, keys(), &out, &error));
  EXPECT_NE(std::string::npos, error.find("16"));
}

TEST(Builder, KeyFiles) {
  TempDir dir;
  uint8_t key[32];
  std::string error;
  writeFile(dir + "/good", std::string(64, 'a') + "\n");
  EXPECT_TRUE(qpk::readKeyFile(dir + "/good", key, &error));
  EXPECT_EQ(0xAA, key[31]);
  writeFile(dir + "/short", std::string(62, 'a'));
  EXPECT_FALSE(qpk::readKeyFile(dir + "/short", key, &error));
  writeFile(dir + "/hex", std::string(63, 'a') + "g");
  EXPECT_FALSE(qpk::readKeyFile(dir + "/hex", key, &error));
  writeFile(dir + "/long", std::string(200, 'a'));
  EXPECT_FALSE(qpk::readKeyFile(dir + "/long", key, &error));
  EXPECT_FALSE(qpk::readKeyFile(dir + "/missing", key, &error));
  EXPECT_TRUE(keys().hasEddsa);
  EXPECT_TRUE(keys().hasLegacy);
}

TEST(Builder, BundlesKeepEveryMemberSignatureValid) {
  for (bool sha256 : {false, true}) {
    qpk::BundleSpec spec;
    spec.name = "bun";
    spec.sha256 = sha256;
    std::vector<std::string> memberFiles;
    for (const char* name : {"a", "b", "c"}) {
      qpk::PackageSpec m;
      m.name = name;
      m.sha256 = sha256;
      m.files = {{std::string("/") + name, name}};
      spec.members.push_back(m);
      memberFiles.push_back(build(m));
    }
    EXPECT_EQ(3, countValidSignatures(buildBundle(spec)));
    std::string spliced, error;
    ASSERT_TRUE(qpk::spliceBundle(spec, memberFiles, &spliced, &error)) << error;
    EXPECT_EQ(3, countValidSignatures(spliced));
    // Same layout as a bundle built whole (the legacy halves are randomised).
    std::string whole = buildBundle(spec);
    std::vector<Part> a = walk(whole), b = walk(spliced);
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
      EXPECT_EQ(a[i].type, b[i].type);
      EXPECT_EQ(a[i].length, b[i].length);
      if (a[i].type != PartSignature) {
        EXPECT_EQ(whole.substr(a[i].offset, 6 + a[i].length), spliced.substr(b[i].offset, 6 + b[i].length));
      }
    }
    // A member signed over the other digest would not verify in this bundle.
    spec.sha256 = !sha256;
    EXPECT_FALSE(qpk::spliceBundle(spec, memberFiles, &spliced, &error));
  }
}

TEST(Builder, CollectsRegularFilesInByteOrder) {
  TempDir dir;
  mkdir((dir + "/bin").c_str(), 0755);
  writeFile(dir + "/bin/tool", "#!/bin/sh\n");
  chmod((dir + "/bin/tool").c_str(), 0750);
  writeFile(dir + "/a.conf", "x");
  symlink("a.conf", (dir + "/link").c_str());
  std::vector<qpk::FileEntry> files;
  std::string error;
  ASSERT_TRUE(qpk::collectFiles(dir + "/", &files, &error)) << error;
  ASSERT_EQ(2u, files.size());
  EXPECT_EQ("/a.conf", files[0].path);
  EXPECT_EQ("/bin/tool", files[1].path);
  EXPECT_EQ(0x81E8, files[1].mode);
  EXPECT_EQ("#!/bin/sh\n", files[1].data);
  EXPECT_FALSE(qpk::collectFiles(dir + "/missing", &files, &error));
}

TEST(QpkTool, BuildThenInfo) {
  TempDir dir;
  mkdir((dir + "/tree").c_str(), 0755);
  mkdir((dir + "/tree/bin").c_str(), 0755);
  writeFile(dir + "/tree/bin/hello", "hello\n");
  std::string keysDir = std::string(INSTALLER_SOURCE_DIR) + "/keys";
  RunResult built = runProgram(
      {QPK_BINARY, "build", "--name", "hello", "--version", "6.46rc2", "--build-time", "1700000000",
       "--arch", "mipsbe", "--note", "demo", "--depends", "system:6.46:6.46.9", "--provides",
       "greeter:::5", "--boot-image", "--sha256", "--files", dir + "/tree", "--key-eddsa",
       keysDir + "/dev-eddsa.private", "-o", dir + "/hello.qpk"},
      {}, "");
  ASSERT_EQ(0, built.status) << built.err;
  std::string file = readFile(dir + "/hello.qpk");
  EXPECT_EQ(1, countValidSignatures(file));

  std::stringbuf source(file);
  PackageReader reader(&source, false, nullptr);
  acceptAll(reader);
  ASSERT_EQ(PartHeader, reader.nextPart());
  PackageInfo info;
  ASSERT_TRUE(reader.readHeader(info));
  EXPECT_EQ("hello", info.name);
  EXPECT_EQ(makeVersion(6, 46, ReleaseCandidate, 2), info.version);
  EXPECT_EQ(1700000000u, info.buildTime);
  EXPECT_EQ(kFlagBootImage, info.flags);
  EXPECT_EQ("mipsbe", info.architecture);
  ASSERT_EQ(1u, info.dependencies.size());
  EXPECT_EQ(makeVersion(6, 46, Final, 9), info.dependencies[0].maxVersion);
  ASSERT_EQ(1u, info.provides.size());
  EXPECT_EQ(5, info.provides[0].priority);

  RunResult shown = runProgram({QPK_BINARY, "info", dir + "/hello.qpk"}, {}, "");
  EXPECT_EQ(0, shown.status) << shown.err;
  for (const char* line : {"matches the file size", "type 25 (digest switch), length 0",
                           "name: \"hello\"", "version: 6.46rc2 (0x062E6302)", "flags: 0x1 boot-image",
                           "\"system\" min 6.46 max 6.46.9", "100644          6 \"/bin/hello\"",
                           "long form: legacy and Ed25519 over SHA-256"}) {
    EXPECT_NE(std::string::npos, shown.out.find(line)) << line << "\n" << shown.out;
  }

  // A wrong declared length and a cut part are reported, with a failing status.
  writeFile(dir + "/cut.qpk", file.substr(0, file.size() - 10));
  RunResult cut = runProgram({QPK_BINARY, "info", dir + "/cut.qpk"}, {}, "");
  EXPECT_NE(0, cut.status);
  EXPECT_NE(std::string::npos, cut.out.find("DOES NOT match"));
  EXPECT_NE(std::string::npos, cut.out.find("part cut short"));
}

TEST(QpkTool, HelpAndBadArguments) {
  for (const char* command : {"build", "build-bundle", "info"}) {
    RunResult help = runProgram({QPK_BINARY, command, "--help"}, {}, "");
    EXPECT_EQ(0, help.status) << command;
    EXPECT_NE(std::string::npos, help.out.find("usage: qpk")) << command;
  }
  RunResult badVersion = runProgram({QPK_BINARY, "build", "--name", "x", "--version", "6.x", "-o", "/dev/null"}, {}, "");
  EXPECT_NE(0, badVersion.status);
  EXPECT_NE(std::string::npos, badVersion.err.find("bad version"));
  RunResult noKey = runProgram({QPK_BINARY, "build", "--name", "x", "--version", "1.0", "-o", "/dev/null"}, {}, "");
  EXPECT_NE(0, noKey.status);
  EXPECT_NE(std::string::npos, noKey.err.find("--key-eddsa"));
  RunResult unknown = runProgram({QPK_BINARY, "build", "--frobnicate"}, {}, "");
  EXPECT_NE(0, unknown.status);
  RunResult missing = runProgram({QPK_BINARY, "info", "/nonexistent/file.qpk"}, {}, "");
  EXPECT_NE(0, missing.status);
  EXPECT_NE(std::string::npos, missing.err.find("cannot open"));
  RunResult notPackage = runProgram({QPK_BINARY, "info", QPK_BINARY}, {}, "");
  EXPECT_NE(0, notPackage.status);
  EXPECT_NE(std::string::npos, notPackage.err.find("not a package file"));
}
