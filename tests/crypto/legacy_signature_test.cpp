// The legacy signature: known answers for the hash and the check; the signer's rules.
#include "crypto/legacy_signature.h"

#include <gtest/gtest.h>

#include <cstring>

#include "qpk/signing.h"
#include "support/vector_file.h"

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
  // No caller hashes more than one block; a longer input is clamped to 55 bytes.
  const std::vector<uint8_t> longer(56, 0x5a);
  uint8_t whole[32], clamped[32];
  legacyHash(longer.data(), 56, whole);
  legacyHash(longer.data(), 55, clamped);
  EXPECT_EQ(toHex(clamped, 32), toHex(whole, 32));
}

TEST(LegacySignature, KnownAnswers) {
  JsonValue file;
  ASSERT_TRUE(loadVectorFile("legacy-signature.json", file));
  ASSERT_EQ(18u, file["cases"].items.size());
  for (const JsonValue& c : file["cases"].items) {
    std::vector<uint8_t> key = fromHex(c["public_hex"].text), digest = fromHex(c["digest_hex"].text),
                         signature = fromHex(c["signature_hex"].text);
    ASSERT_EQ(32u + 20u + 68u, key.size() + digest.size() + signature.size());
    EXPECT_EQ(c["valid"].isTrue(), verifyLegacySignature(digest.data(), signature.data(), key.data()))
        << c["note"].text;
  }
}

// Key pairs from the vectors' seeds (parity rule a or l - a); signatures verify, break, never repeat a nonce.
TEST(LegacySigner, KeyPairsSignaturesAndNonces) {
  JsonValue file;
  ASSERT_TRUE(loadVectorFile("legacy-signature.json", file));
  for (const char* name : {"key", "other_key"}) {
    const JsonValue& key = file[name];
    std::vector<uint8_t> seed = fromHex(key["seed_hex"].text);
    uint8_t secret[32], publicKey[32];
    ASSERT_TRUE(qpk::makeLegacyKeyPair(seed.data(), secret, publicKey)) << name;
    EXPECT_EQ(key["secret_scalar_hex"].text, toHex(secret, 32)) << name;
    EXPECT_EQ(key["public_hex"].text, toHex(publicKey, 32)) << name;
    uint8_t digest[20], a[68], b[68];
    for (int j = 0; j < 20; ++j) digest[j] = static_cast<uint8_t>(j * 7 + name[0]);
    ASSERT_TRUE(qpk::legacySign(digest, secret, a));
    ASSERT_TRUE(qpk::legacySign(digest, secret, b));
    EXPECT_TRUE(verifyLegacySignature(digest, a, publicKey) && verifyLegacySignature(digest, b, publicKey)) << name;
    EXPECT_NE(0, std::memcmp(a + 20, b + 20, 16)) << "the same r twice means the same nonce";
    digest[19] ^= 1;
    EXPECT_FALSE(verifyLegacySignature(digest, a, publicKey));
  }
  // The other parity of a good secret (l - a'), zero and l itself cannot sign.
  std::vector<uint8_t> order = fromHex("edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010");
  std::vector<uint8_t> secret = fromHex(file["key"]["secret_scalar_hex"].text);
  uint8_t wrongParity[32], zero[32] = {}, digest[20] = {}, signature[68];
  for (int i = 0, borrow = 0; i < 32; ++i) {
    int d = order[i] - secret[i] - borrow;
    borrow = d < 0;
    wrongParity[i] = static_cast<uint8_t>(d + (borrow ? 256 : 0));
  }
  for (const uint8_t* bad : {static_cast<const uint8_t*>(wrongParity), static_cast<const uint8_t*>(zero),
                             static_cast<const uint8_t*>(order.data())}) {
    EXPECT_FALSE(qpk::legacySign(digest, bad, signature));
  }
}

}  // namespace
