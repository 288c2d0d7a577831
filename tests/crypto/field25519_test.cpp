// The field arithmetic against OpenSSL's big numbers on random and edge values, then the Montgomery ladder.
#include "crypto/field25519.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <array>
#include <cstring>
#include <random>

#include "crypto/legacy_curve.h"
#include "support/vector_file.h"

namespace {

TEST(Field25519, MatchesBigNumbers) {
  std::vector<std::array<uint8_t, 32>> values(207);  // 0, 1, 2^256 - 1, p + 18, p, p - 1, 2^255, random
  values[1][0] = 1;
  values[2].fill(0xFF);
  for (int i = 3; i < 6; ++i) values[i].fill(0xFF), values[i][31] = 0x7F;
  values[4][0] = 0xED;
  values[5][0] = 0xEC;
  values[6][31] = 0x80;
  std::mt19937 random(7);
  for (size_t i = 7; i < values.size(); ++i) {
    for (auto& b : values[i]) b = static_cast<uint8_t>(random());
  }
  BN_CTX* ctx = BN_CTX_new();
  BIGNUM *p = nullptr, *invertExponent = nullptr, *powExponent = nullptr, *e = BN_new();  // p, p - 2, (p - 5) / 8
  BN_hex2bn(&p, "7fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffed");
  BN_hex2bn(&invertExponent, "7fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffeb");
  BN_hex2bn(&powExponent, "0ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffd");
  for (size_t i = 0; i < values.size(); ++i) {
    const uint8_t* a = values[i].data();
    const uint8_t* b = values[(i * 7 + 3) % values.size()].data();
    FieldElement fa, fb, r;
    field25519::fromBytes(fa, a);
    field25519::fromBytes(fb, b);
    BIGNUM *ba = BN_lebin2bn(a, 32, nullptr), *bb = BN_lebin2bn(b, 32, nullptr);
    auto check = [&](const char* what, const FieldElement& got) {
      uint8_t want[32], bytes[32];
      BN_bn2lebinpad(e, want, 32);
      field25519::toBytes(bytes, got);
      EXPECT_EQ(0, std::memcmp(want, bytes, 32)) << what << " case " << i;
      EXPECT_EQ(BN_is_odd(e) == 1, field25519::isOdd(got)) << what << " case " << i;
      EXPECT_EQ(BN_is_zero(e) == 1, field25519::isZero(got)) << what << " case " << i;
    };
    BN_nnmod(e, ba, p, ctx), check("reduce", fa);
    BN_mod_add(e, ba, bb, p, ctx), field25519::add(r, fa, fb), check("add", r);
    BN_mod_sub(e, ba, bb, p, ctx), field25519::sub(r, fa, fb), check("sub", r);
    BN_mod_mul(e, ba, bb, p, ctx), field25519::mul(r, fa, fb), check("mul", r);
    BN_mod_sqr(e, ba, p, ctx), field25519::square(r, fa), check("square", r);
    BN_set_word(e, 121665), BN_mod_mul(e, e, ba, p, ctx), field25519::mulSmall(r, fa, 121665), check("mulSmall", r);
    BN_zero(e), BN_mod_sub(e, e, ba, p, ctx), field25519::neg(r, fa), check("neg", r);
    BN_zero(e), field25519::add(r, r, fa), check("a + -a", r);
    BN_mod_exp(e, ba, invertExponent, p, ctx), field25519::invert(r, fa), check("invert", r);
    BN_mod_exp(e, ba, powExponent, p, ctx), field25519::pow22523(r, fa), check("pow22523", r);
    BN_free(ba);
    BN_free(bb);
  }
  for (BIGNUM* n : {p, invertExponent, powExponent, e}) BN_free(n);
  BN_CTX_free(ctx);
}

// RFC 7748's first X25519 test: with a clamped scalar the ladder is X25519.
TEST(LegacyCurve, LadderIsX25519ForClampedScalars) {
  std::vector<uint8_t> scalar = fromHex("a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4");
  const std::vector<uint8_t> u = fromHex("e6db6867583030db3594c1a424b15f7c726624ec26b3353b10a903a6d0ab1c4c");
  scalar[0] &= 248;
  scalar[31] = (scalar[31] & 127) | 64;
  uint8_t got[32];
  montgomeryMultiply(got, scalar.data(), u.data());
  EXPECT_EQ("c3da55379de9c6908e94ea4df28d084f32eccf03491c71f754b4075577a28552", toHex(got, 32));
}

}  // namespace
