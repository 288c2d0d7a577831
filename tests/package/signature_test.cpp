// Package signatures: the known answers of tests/data, then verifySignature
// on packages made by the builder.
#include "package/signature.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "package/legacy_curve.h"
#include "platform/eddsa.h"
#include "qpk/package_builder.h"
#include "qpk/signing.h"
#include "support/scratch_root.h"
#include "vector_file.h"

namespace {

TEST(LegacyHash, KnownAnswers) {
  JsonValue file;
  ASSERT_TRUE(loadVectorFile("legacy-hash.json", file));
  ASSERT_EQ(8u, file["cases"].items.size());
  for (const JsonValue& c : file["cases"].items) {
    std::vector<uint8_t> message = fromHex(c["message_hex"].text);
    ASSERT_EQ(std::stoul(c["length"].text), message.size());
    uint8_t out[32];
    legacyHash(message.data(), message.size(), out);
    EXPECT_EQ(c["hash_hex"].text, toHex(out, 32)) << "length " << message.size();
  }
}

TEST(LegacySignature, KnownAnswers) {
  JsonValue file;
  ASSERT_TRUE(loadVectorFile("legacy-signature.json", file));
  ASSERT_EQ(18u, file["cases"].items.size());
  for (const JsonValue& c : file["cases"].items) {
    std::vector<uint8_t> key = fromHex(c["public_hex"].text);
    std::vector<uint8_t> digest = fromHex(c["digest_hex"].text);
    std::vector<uint8_t> signature = fromHex(c["signature_hex"].text);
    ASSERT_EQ(32u, key.size());
    ASSERT_EQ(20u, digest.size());
    ASSERT_EQ(68u, signature.size());
    EXPECT_EQ(c["valid"].isTrue(), verifyLegacySignature(digest.data(), signature.data(), key.data()))
        << c["note"].text;

    // The signer's intermediate values, step by step.
    const JsonValue& detail = c["detail"];
    if (detail.kind != JsonValue::Object) continue;
    uint8_t hash[32], e[32], u[32];
    legacyHash(digest.data(), 20, hash);
    EXPECT_EQ(detail["legacy_hash_of_digest_hex"].text, toHex(hash, 32)) << c["note"].text;
    legacyChallenge(digest.data(), signature.data() + 20, e);
    EXPECT_EQ(detail["e_hex"].text, toHex(e, 32)) << c["note"].text;
    const uint8_t base[32] = {9};
    std::vector<uint8_t> nonce = fromHex(detail["nonce_hex"].text);
    montgomeryMultiply(u, nonce.data(), base);
    EXPECT_EQ(detail["u_R_hex"].text, toHex(u, 32)) << c["note"].text;
    legacyCombination(u, e, signature.data() + 36, key.data());
    EXPECT_EQ(detail["u_R_hex"].text, toHex(u, 32)) << c["note"].text;
  }
}

// Both key pairs of the vectors: the public key is u(a·G) for the clamped
// seed, and the stored signing scalar is a or l - a by the parity rule.
TEST(LegacySignature, KeyPairs) {
  JsonValue file;
  ASSERT_TRUE(loadVectorFile("legacy-signature.json", file));
  for (const char* name : {"key", "other_key"}) {
    const JsonValue& key = file[name];
    std::vector<uint8_t> clamped = fromHex(key["clamped_scalar_hex"].text);
    const uint8_t base[32] = {9};
    uint8_t u[32];
    montgomeryMultiply(u, clamped.data(), base);
    EXPECT_EQ(key["public_hex"].text, toHex(u, 32)) << name;
    std::vector<uint8_t> secret = fromHex(key["secret_scalar_hex"].text);
    montgomeryMultiply(u, secret.data(), base);
    EXPECT_EQ(key["public_hex"].text, toHex(u, 32)) << name;  // ±a' share u
  }
}

TEST(EddsaVectors, KnownAnswers) {
  JsonValue file;
  ASSERT_TRUE(loadVectorFile("ed25519.json", file));
  std::vector<uint8_t> key = fromHex(file["key"]["public_hex"].text);
  ASSERT_EQ(8u, file["cases"].items.size());
  for (const JsonValue& c : file["cases"].items) {
    std::vector<uint8_t> message = fromHex(c["message_hex"].text);
    std::vector<uint8_t> signature = fromHex(c["signature_hex"].text);
    ASSERT_EQ(32u, message.size());
    ASSERT_EQ(64u, signature.size());
    bool valid = eddsa::verify({key.data(), key.data() + 32}, {message.data(), message.data() + 32},
                               {signature.data(), signature.data() + 64});
    EXPECT_EQ(c["valid"].isTrue(), valid) << c["note"].text;
  }
}

// Signing: the key pairs of the vectors come out of their seeds with the
// secret the parity rule asks for, and every signature is fresh and valid.
TEST(LegacySigner, KeyPairsFromSeedsFollowTheParityRule) {
  JsonValue file;
  ASSERT_TRUE(loadVectorFile("legacy-signature.json", file));
  for (const char* name : {"key", "other_key"}) {
    const JsonValue& key = file[name];
    std::vector<uint8_t> seed = fromHex(key["seed_hex"].text);
    uint8_t secret[32], publicKey[32];
    ASSERT_TRUE(qpk::makeLegacyKeyPair(seed.data(), secret, publicKey)) << name;
    EXPECT_EQ(key["secret_scalar_hex"].text, toHex(secret, 32)) << name;
    EXPECT_EQ(key["public_hex"].text, toHex(publicKey, 32)) << name;
  }
}

TEST(LegacySigner, SignaturesVerifyAndNeverRepeatANonce) {
  JsonValue file;
  ASSERT_TRUE(loadVectorFile("legacy-signature.json", file));
  for (const char* name : {"key", "other_key"}) {
    std::vector<uint8_t> secret = fromHex(file[name]["secret_scalar_hex"].text);
    std::vector<uint8_t> publicKey = fromHex(file[name]["public_hex"].text);
    for (int i = 0; i < 4; ++i) {
      uint8_t digest[20];
      for (int j = 0; j < 20; ++j) digest[j] = static_cast<uint8_t>(i * 31 + j * 7);
      uint8_t a[68], b[68];
      ASSERT_TRUE(qpk::legacySign(digest, secret.data(), a));
      ASSERT_TRUE(qpk::legacySign(digest, secret.data(), b));
      EXPECT_TRUE(verifyLegacySignature(digest, a, publicKey.data()));
      EXPECT_TRUE(verifyLegacySignature(digest, b, publicKey.data()));
      EXPECT_NE(0, std::memcmp(a + 20, b + 20, 16)) << "the same r twice means the same nonce";
      digest[19] ^= 1;
      EXPECT_FALSE(verifyLegacySignature(digest, a, publicKey.data()));
    }
  }
  // The other parity of a good secret (l - a'), zero and l itself cannot sign.
  std::vector<uint8_t> order = fromHex("edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010");
  std::vector<uint8_t> secret = fromHex(file["key"]["secret_scalar_hex"].text);
  uint8_t wrongParity[32];
  int borrow = 0;
  for (int i = 0; i < 32; ++i) {
    int d = order[i] - secret[i] - borrow;
    borrow = d < 0;
    wrongParity[i] = static_cast<uint8_t>(d + (borrow ? 256 : 0));
  }
  uint8_t digest[20] = {}, signature[68];
  EXPECT_FALSE(qpk::legacySign(digest, wrongParity, signature));
  uint8_t zero[32] = {};
  EXPECT_FALSE(qpk::legacySign(digest, zero, signature));
  EXPECT_FALSE(qpk::legacySign(digest, order.data(), signature));
}

// ---- verifySignature on packages from the builder ----

// Read before any test enters its chroot, where the source tree is out of sight.
const qpk::SigningKeys gKeys = qpk::developmentKeys(INSTALLER_SOURCE_DIR);

constexpr Version k6_46_8 = 0x062E6608;   // may use the legacy kind
constexpr Version k7_1beta4 = 0x07016204;  // needs EdDSA

qpk::PackageSpec packageSpec(Version version, qpk::SignatureForm form, const std::string& name = "pkg") {
  qpk::PackageSpec s;
  s.name = name;
  s.version = version;
  s.files = {qpk::FileEntry{"/bin/x", "payload bytes"}};
  s.signature = form;
  return s;
}

std::string build(const qpk::PackageSpec& s, const qpk::SigningKeys& keys = gKeys) {
  std::string file, error;
  EXPECT_TRUE(qpk::buildPackage(s, keys, &file, &error)) << error;
  return file;
}

// A package whose signature part has exactly n bytes, signed as the
// installer reads a part of that size.
std::string withSignatureSize(Version version, uint32_t n) {
  qpk::PartWriter writer;
  writer.part(PartHeader, qpk::encodeHeader("pkg", version, 0, 0, true));
  writer.part(PartFiles, qpk::encodePayload({qpk::FileEntry{"/bin/x", "x"}}, 6));
  writer.part(PartSignature, std::string(n, '\0'));
  std::string file = writer.finish(), error;
  if (n >= 68) {
    EXPECT_TRUE(qpk::resignPackageFile(&file, gKeys, qpk::SignatureForm::None, &error)) << error;
  }
  return file;
}

// Walks a file as the stream installer does up to the signature part and
// checks it; remainingAfter tells how much of the part was left unread.
bool verifyFile(const std::string& bytes, bool hashing = true, uint32_t* remainingAfter = nullptr) {
  std::stringbuf source(bytes);
  PackageReader reader(&source, hashing, nullptr);
  for (int32_t type : {1, 18, 20, 16, 3, 19, 17, 21, 4, 9}) reader.accept(type);
  if (reader.nextPart() != PartHeader) return false;
  PackageInfo info;
  if (!reader.readHeader(info)) return false;
  while (reader.partType() >= 0 && reader.partType() != PartSignature) reader.nextPart();
  if (reader.partType() != PartSignature) return false;
  bool valid = verifySignature(info, reader);
  if (remainingAfter) *remainingAfter = reader.remaining();
  return valid;
}

TEST(VerifySignature, PartSizes) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    for (Version version : {k6_46_8, k7_1beta4}) {
      const bool legacyCounts = version == k6_46_8;
      uint32_t left = 0;
      EXPECT_FALSE(verifyFile(withSignatureSize(version, 0)));
      EXPECT_FALSE(verifyFile(withSignatureSize(version, 67)));
      EXPECT_EQ(legacyCounts, verifyFile(withSignatureSize(version, 68), true, &left));
      EXPECT_EQ(0u, left);
      EXPECT_EQ(legacyCounts, verifyFile(withSignatureSize(version, 131), true, &left));
      EXPECT_EQ(63u, left);  // read as the short form; the rest is skipped with the part
      EXPECT_TRUE(verifyFile(withSignatureSize(version, 132), true, &left));
      EXPECT_EQ(0u, left);
      EXPECT_TRUE(verifyFile(withSignatureSize(version, 200), true, &left));
      EXPECT_EQ(68u, left);
    }
  }));
}

TEST(VerifySignature, ModeTableAtEveryBoundary) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    const struct {
      Version version;
      int mode;
    } table[] = {
        {0x00000000, 1}, {0x062E6608, 1}, {0x062E6609, 2}, {0x062EFFFF, 2}, {0x062F0000, 1},
        {0x06306600, 1}, {0x06306601, 2}, {0x06FFFFFF, 2}, {0x07000000, 1}, {0x07016203, 1},
        {0x07016204, 2}, {0xFFFFFFFF, 2},
    };
    for (const auto& row : table) {
      PackageInfo info("pkg");
      info.version = row.version;
      EXPECT_EQ(row.mode, signatureMode(info)) << std::hex << row.version;
      EXPECT_EQ(row.mode, versionSignatureMode(info)) << std::hex << row.version;
      info.name = "branding";
      EXPECT_EQ(1, signatureMode(info)) << std::hex << row.version;
    }
  }));
}

TEST(VerifySignature, SecureMarkerRequiresEddsaForEveryPackage) {
  ScratchRoot root;
  root.write("/ram/SECURE", "");
  EXPECT_TRUE(root.runInside([] {
    for (const char* name : {"pkg", "branding"}) {
      PackageInfo info(name);
      info.version = k6_46_8;
      EXPECT_EQ(2, signatureMode(info)) << name;
      EXPECT_EQ(1, versionSignatureMode(info)) << name;
      EXPECT_FALSE(verifyFile(build(packageSpec(k6_46_8, qpk::SignatureForm::Short, name)))) << name;
      EXPECT_TRUE(verifyFile(build(packageSpec(k6_46_8, qpk::SignatureForm::Long, name)))) << name;
    }
  }));
}

TEST(VerifySignature, LegacyHalfCountsOnlyUnderMode1) {
  qpk::SigningKeys otherEddsa = gKeys;
  for (int i = 0; i < 32; ++i) otherEddsa.eddsaSeed[i] = static_cast<uint8_t>(0xA0 + i);
  qpk::SigningKeys otherLegacy = gKeys;
  std::vector<uint8_t> vectorSecret = fromHex("205cb356cc6750a1fd3b2a9d0ede861b8e047dd0fc3f3979cab039be54819d06");
  std::memcpy(otherLegacy.legacySecret, vectorSecret.data(), 32);
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([&] {
    for (bool sha256 : {false, true}) {
      auto make = [&](Version v, qpk::SignatureForm form, const qpk::SigningKeys& keys) {
        qpk::PackageSpec s = packageSpec(v, form);
        s.sha256 = sha256;
        return build(s, keys);
      };
      // EdDSA half wrong, legacy half right.
      EXPECT_TRUE(verifyFile(make(k6_46_8, qpk::SignatureForm::Long, otherEddsa))) << sha256;
      EXPECT_TRUE(verifyFile(make(0x07016203, qpk::SignatureForm::Long, otherEddsa))) << sha256;
      EXPECT_FALSE(verifyFile(make(k7_1beta4, qpk::SignatureForm::Long, otherEddsa))) << sha256;
      // Short form: the legacy kind alone.
      EXPECT_TRUE(verifyFile(make(k6_46_8, qpk::SignatureForm::Short, gKeys))) << sha256;
      EXPECT_FALSE(verifyFile(make(k7_1beta4, qpk::SignatureForm::Short, gKeys))) << sha256;
      // Both halves right, or EdDSA right and legacy wrong: passes everywhere.
      EXPECT_TRUE(verifyFile(make(k7_1beta4, qpk::SignatureForm::Long, gKeys))) << sha256;
      EXPECT_TRUE(verifyFile(make(k7_1beta4, qpk::SignatureForm::Long, otherLegacy))) << sha256;
      // Neither half made with the built-in keys.
      qpk::SigningKeys neither = otherEddsa;
      std::memcpy(neither.legacySecret, vectorSecret.data(), 32);
      EXPECT_FALSE(verifyFile(make(k6_46_8, qpk::SignatureForm::Long, neither))) << sha256;
    }
  }));
}

TEST(VerifySignature, HashingOffAlwaysFails) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    const std::string good = build(packageSpec(k6_46_8, qpk::SignatureForm::Long));
    EXPECT_TRUE(verifyFile(good, true));
    EXPECT_FALSE(verifyFile(good, false));
    EXPECT_FALSE(verifyFile(build(packageSpec(k6_46_8, qpk::SignatureForm::Short)), false));
  }));
}

// Any change to covered bytes breaks both halves; the signature bytes
// themselves are not covered.
TEST(VerifySignature, CoveredBytes) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    const std::string good = build(packageSpec(k6_46_8, qpk::SignatureForm::Long));
    std::string changed = good;
    changed[8 + 6 + 3] ^= 1;  // a byte of the package name
    EXPECT_FALSE(verifyFile(changed));
    std::string resigned = changed, error;
    ASSERT_TRUE(qpk::resignPackageFile(&resigned, gKeys, qpk::SignatureForm::None, &error)) << error;
    EXPECT_TRUE(verifyFile(resigned));
    // Re-signing into the other form resizes the part and still verifies.
    ASSERT_TRUE(qpk::resignPackageFile(&resigned, gKeys, qpk::SignatureForm::Short, &error)) << error;
    EXPECT_TRUE(verifyFile(resigned));
    EXPECT_EQ(good.size() - 64, resigned.size());
  }));
}

// ---- the qpk commands ----

class TempDir {
 public:
  TempDir() {
    std::string pattern = std::string(INSTALLER_TEST_TMP) + "/sigXXXXXX";
    mkdir(INSTALLER_TEST_TMP, 0755);
    path_ = mkdtemp(pattern.data()) ? pattern : "";
  }
  ~TempDir() { runProgram({"rm", "-rf", path_}, {{"PATH", "/usr/bin:/bin"}}, ""); }
  std::string operator+(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

TEST(QpkKeys, KeygenSignVerify) {
  TempDir dir;
  ASSERT_EQ(0, runProgram({QPK_BINARY, "keygen", "--legacy", dir + "/legacy"}, {}, "").status);
  ASSERT_EQ(0, runProgram({QPK_BINARY, "keygen", "--eddsa", dir + "/eddsa"}, {}, "").status);
  struct stat st {};
  ASSERT_EQ(0, stat((dir + "/legacy.private").c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);
  ASSERT_EQ(0, stat((dir + "/eddsa.private").c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);
  // An existing key is never overwritten by accident.
  EXPECT_NE(0, runProgram({QPK_BINARY, "keygen", "--legacy", dir + "/legacy"}, {}, "").status);

  qpk::SigningKeys fresh;
  std::string error;
  ASSERT_TRUE(qpk::readKeyFile(dir + "/legacy.private", fresh.legacySecret, &error)) << error;
  uint8_t publicKey[32], expected[32];
  ASSERT_TRUE(qpk::readKeyFile(dir + "/legacy.public", expected, &error)) << error;
  qpk::legacyPublicKey(fresh.legacySecret, publicKey);
  EXPECT_EQ(0, std::memcmp(publicKey, expected, 32));
  uint8_t digest[20] = {1, 2, 3}, signature[68];
  EXPECT_TRUE(qpk::legacySign(digest, fresh.legacySecret, signature));

  // A package signed with the development keys, then again with the new ones.
  std::ofstream(dir + "/pkg.qpk", std::ios::binary) << build(packageSpec(0x062F0000, qpk::SignatureForm::Long));
  RunResult checked = runProgram({QPK_BINARY, "verify", dir + "/pkg.qpk"}, {}, "");
  EXPECT_EQ(0, checked.status) << checked.err;
  EXPECT_EQ("package pkg-6.47\n  digest:    sha1\n  signature: long\n  eddsa:     valid\n"
            "  legacy:    valid\n  mode:      1 (EdDSA or legacy; 2 on a router with /ram/SECURE)\n"
            "  result:    accepted\n",
            checked.out);

  RunResult signedShort = runProgram({QPK_BINARY, "sign", "--short", "--key-legacy", dir + "/legacy.private",
                                      "-o", dir + "/short.qpk", dir + "/pkg.qpk"}, {}, "");
  ASSERT_EQ(0, signedShort.status) << signedShort.err;
  RunResult builtIn = runProgram({QPK_BINARY, "verify", dir + "/short.qpk"}, {}, "");
  EXPECT_EQ(1, builtIn.status);
  EXPECT_NE(std::string::npos, builtIn.out.find("  legacy:    invalid\n"));
  EXPECT_NE(std::string::npos, builtIn.out.find("  result:    refused\n"));
  RunResult withNew = runProgram({QPK_BINARY, "verify", "--public-legacy", dir + "/legacy.public",
                                  dir + "/short.qpk"}, {}, "");
  EXPECT_EQ(0, withNew.status);
  EXPECT_NE(std::string::npos, withNew.out.find("  signature: short\n  eddsa:     absent\n  legacy:    valid\n"));

  RunResult signedLong = runProgram({QPK_BINARY, "sign", "--key-legacy", dir + "/legacy.private", "--key-eddsa",
                                     dir + "/eddsa.private", dir + "/short.qpk"}, {}, "");
  ASSERT_EQ(0, signedLong.status) << signedLong.err;
  RunResult both = runProgram({QPK_BINARY, "verify", "--public-legacy", dir + "/legacy.public",
                               "--public-eddsa", dir + "/eddsa.public", dir + "/short.qpk"}, {}, "");
  EXPECT_EQ(0, both.status);
  EXPECT_NE(std::string::npos, both.out.find("  signature: long\n  eddsa:     valid\n  legacy:    valid\n"));
  // The long form needs both keys.
  EXPECT_EQ(2, runProgram({QPK_BINARY, "sign", "--key-legacy", dir + "/legacy.private", dir + "/short.qpk"}, {}, "")
                   .status);
}

}  // namespace
