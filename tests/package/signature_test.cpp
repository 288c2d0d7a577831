// Package signatures: the known answers of tests/data, then verifySignature
// on packages made by the builder.
#include "package/signature.h"

#include <gtest/gtest.h>

#include <cstring>

#include "package/legacy_curve.h"
#include "platform/eddsa.h"
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

}  // namespace
