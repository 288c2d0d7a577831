// Package signatures: the EdDSA known answers, then verifySignature on built packages in a chrooted child.
#include "package/signature.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/eddsa.h"
#include "qpk/signing.h"
#include "support/vector_file.h"

using namespace fixtures;

namespace {

// The Ed25519 known answers of tests/data over 32-byte digests.
TEST(EddsaVectors, KnownAnswers) {
  JsonValue file;
  ASSERT_TRUE(loadVectorFile("ed25519.json", file));
  std::vector<uint8_t> key = fromHex(file["key"]["public_hex"].text);
  ASSERT_EQ(8u, file["cases"].items.size());
  for (const JsonValue& c : file["cases"].items) {
    std::vector<uint8_t> message = fromHex(c["message_hex"].text), signature = fromHex(c["signature_hex"].text);
    ASSERT_EQ(32u + 64u, message.size() + signature.size());
    bool valid = eddsa::verify({key.data(), key.data() + 32}, {message.data(), message.data() + 32},
                               {signature.data(), signature.data() + 64});
    EXPECT_EQ(c["valid"].isTrue(), valid) << c["note"].text;
  }
}

constexpr Version k6_46_8 = 0x062E6608;    // may use the legacy kind
constexpr Version k7_1beta4 = 0x07016204;  // needs EdDSA

// A package whose signature part has n bytes, signed as a part of that size is read.
std::string withSignatureSize(Version v, uint32_t n) {
  qpk::PartWriter writer;
  writer.part(PartHeader, qpk::encodeHeader("pkg", v, 0, 0, true));
  writer.part(PartFiles, qpk::encodePayload({file("/bin/x", "x")}, 6));
  writer.part(PartSignature, std::string(n, '\0'));
  std::string bytes = writer.finish(), error;
  EXPECT_TRUE(n < 68 || qpk::resignPackageFile(&bytes, keys(), qpk::SignatureForm::None, &error)) << error;
  return bytes;
}

// Checks a file's signature as the stream installer does; remainingAfter: what the check left unread.
bool verifyFile(const std::string& bytes, bool hashing = true, uint32_t* remainingAfter = nullptr) {
  std::stringbuf source(bytes);
  PackageReader reader(&source, hashing, nullptr);
  for (int32_t type : {1, 18, 20, 16, 3, 19, 17, 21, 4, 9}) reader.accept(type);
  PackageInfo info;
  if (reader.nextPart() != PartHeader || !reader.readHeader(info)) return false;
  while (reader.partType() >= 0 && reader.partType() != PartSignature) reader.nextPart();
  const bool valid = reader.partType() == PartSignature && verifySignature(info, reader, nullptr);
  if (remainingAfter) *remainingAfter = reader.remaining();
  return valid;
}

// Part sizes read as each form, the digest's cover, the mode by version, "branding" and a secure router.
TEST(VerifySignature, PartSizesAndModeTable) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    const struct {
      uint32_t size; bool legacyOnly;  // verifies only where the legacy kind counts
      uint32_t left;    // of the part after the check
    } sizes[] = {{0, false, 0}, {67, false, 67}, {68, true, 0}, {131, true, 63}, {132, false, 0}, {200, false, 68}};
    for (Version v : {k6_46_8, k7_1beta4}) {
      for (const auto& c : sizes) {
        uint32_t left = 0;
        EXPECT_EQ(c.size >= 132 || (c.legacyOnly && v == k6_46_8), verifyFile(withSignatureSize(v, c.size), true, &left))
            << c.size << " " << v;
        EXPECT_EQ(c.left, left) << c.size;  // 131 is read as the short form
      }
    }
    // Without hashing nothing verifies; a change to a covered byte (of the name) breaks the signature.
    std::string changed = withSignatureSize(k6_46_8, 132);
    EXPECT_FALSE(verifyFile(changed, false) || verifyFile(withSignatureSize(k6_46_8, 68), false));
    changed[8 + 6 + 3] ^= 1;
    EXPECT_FALSE(verifyFile(changed));
    const struct {
      Version version; int mode;
    } table[] = {
        {0x00000000, 1}, {0x062E6608, 1}, {0x062E6609, 2}, {0x062EFFFF, 2}, {0x062F0000, 1}, {0x06306600, 1},
        {0x06306601, 2}, {0x06FFFFFF, 2}, {0x07000000, 1}, {0x07016203, 1}, {0x07016204, 2}, {0xFFFFFFFF, 2},
    };
    for (bool secure : {false, true}) {
      if (secure) writeFile("/ram/SECURE", "");
      for (const auto& row : table) {
        PackageInfo info("pkg");
        info.version = row.version;
        EXPECT_EQ(secure ? 2 : row.mode, signatureMode(info)) << std::hex << row.version;
        EXPECT_EQ(row.mode, versionSignatureMode(info)) << std::hex << row.version;
        info.name = "branding";
        EXPECT_EQ(secure ? 2 : 1, signatureMode(info)) << std::hex << row.version;
      }
    }
  }));
}

// Either half of a long signature carries it under mode 1, only EdDSA under mode 2 or when secure.
TEST(VerifySignature, LegacyHalfCountsOnlyUnderMode1) {
  qpk::SigningKeys otherEddsa = keys(), otherLegacy = keys();
  for (int i = 0; i < 32; ++i) otherEddsa.eddsaSeed[i] = static_cast<uint8_t>(0xA0 + i);
  std::vector<uint8_t> vectorSecret = fromHex("205cb356cc6750a1fd3b2a9d0ede861b8e047dd0fc3f3979cab039be54819d06");
  std::memcpy(otherLegacy.legacySecret, vectorSecret.data(), 32);
  qpk::SigningKeys neither = otherEddsa;
  std::memcpy(neither.legacySecret, vectorSecret.data(), 32);
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([&] {
    using F = qpk::SignatureForm;
    const struct {
      Version version; F form;
      const qpk::SigningKeys* keys; const char* name;
      bool secure, valid;
    } cases[] = {
        {k6_46_8, F::Long, &otherEddsa, "pkg", false, true},  // EdDSA half wrong, legacy half right
        {0x07016203, F::Long, &otherEddsa, "pkg", false, true},
        {k7_1beta4, F::Long, &otherEddsa, "pkg", false, false},
        {k6_46_8, F::Short, &keys(), "pkg", false, true},  // the legacy kind alone
        {k7_1beta4, F::Short, &keys(), "pkg", false, false},
        {k7_1beta4, F::Short, &keys(), "branding", false, true},
        {k7_1beta4, F::Long, &otherLegacy, "pkg", false, true},  // EdDSA right, legacy wrong
        {k6_46_8, F::Long, &neither, "pkg", false, false},
        {k6_46_8, F::Short, &keys(), "branding", true, false},
        {k6_46_8, F::Long, &otherEddsa, "pkg", true, false},
        {k6_46_8, F::Long, &keys(), "branding", true, true},
    };
    for (bool sha256 : {false, true}) {
      for (const auto& c : cases) {
        c.secure ? writeFile("/ram/SECURE", "") : (void)::unlink("/ram/SECURE");
        qpk::PackageSpec s = spec(c.name, "1.0", {file("/bin/x", "payload bytes")});
        s.version = c.version;
        s.signature = c.form;
        s.sha256 = sha256;
        EXPECT_EQ(c.valid, verifyFile(build(s, *c.keys))) << std::hex << c.version << " " << c.name << sha256;
      }
    }
  }));
}

}  // namespace
