// The field arithmetic against OpenSSL's big numbers, on random and edge
// values: limb carries, the reduction of values of p or more, and the powers.
#include "package/field25519.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <cstdio>
#include <array>
#include <cstring>
#include <functional>
#include <random>
#include <tuple>

#include "package/legacy_curve.h"

namespace {

BN_CTX* gCtx = BN_CTX_new();

BIGNUM* prime() {
  static BIGNUM* p = [] {
    BIGNUM* b = BN_new();
    BN_set_bit(b, 255);
    BN_sub_word(b, 19);
    return b;
  }();
  return p;
}

// p - k, or (p - 5) / 8 with shift 3: exponents of the powers.
BIGNUM* exponent(unsigned k, int shift = 0) {
  BIGNUM* e = BN_dup(prime());
  BN_sub_word(e, k);
  BN_rshift(e, e, shift);
  return e;
}

BIGNUM* bigFromLe(const uint8_t in[32]) { return BN_lebin2bn(in, 32, nullptr); }

// 0, 1, 2^256 - 1, p + 18, p, p - 1, 2^255 and random values.
std::vector<std::array<uint8_t, 32>> testValues() {
  std::vector<std::array<uint8_t, 32>> values(207);
  values[1][0] = 1;
  values[2].fill(0xFF);
  for (int i = 3; i < 6; ++i) {
    values[i].fill(0xFF);
    values[i][31] = 0x7F;
  }
  values[4][0] = 0xED;
  values[5][0] = 0xEC;
  values[6][31] = 0x80;
  std::mt19937 random(7);
  for (size_t i = 7; i < values.size(); ++i) {
    for (auto& b : values[i]) b = static_cast<uint8_t>(random());
  }
  return values;
}

using FieldOp = std::function<void(FieldElement&, const FieldElement&, const FieldElement&)>;
using BigOp = std::function<void(BIGNUM*, const BIGNUM*, const BIGNUM*)>;

TEST(Field25519, MatchesBigNumbers) {
  BIGNUM* p = prime();
  BIGNUM* invertExponent = exponent(2);
  BIGNUM* powExponent = exponent(5, 3);
  const std::vector<std::tuple<const char*, FieldOp, BigOp>> ops = {
      {"reduce", [](auto& r, auto& a, auto&) { r = a; }, [&](auto* r, auto* a, auto*) { BN_nnmod(r, a, p, gCtx); }},
      {"add", [](auto& r, auto& a, auto& b) { field25519::add(r, a, b); },
       [&](auto* r, auto* a, auto* b) { BN_mod_add(r, a, b, p, gCtx); }},
      {"sub", [](auto& r, auto& a, auto& b) { field25519::sub(r, a, b); },
       [&](auto* r, auto* a, auto* b) { BN_mod_sub(r, a, b, p, gCtx); }},
      {"mul", [](auto& r, auto& a, auto& b) { field25519::mul(r, a, b); },
       [&](auto* r, auto* a, auto* b) { BN_mod_mul(r, a, b, p, gCtx); }},
      {"square", [](auto& r, auto& a, auto&) { field25519::square(r, a); },
       [&](auto* r, auto* a, auto*) { BN_mod_sqr(r, a, p, gCtx); }},
      {"mulSmall", [](auto& r, auto& a, auto&) { field25519::mulSmall(r, a, 121665); },
       [&](auto* r, auto* a, auto*) {
         BN_set_word(r, 121665);
         BN_mod_mul(r, r, a, p, gCtx);
       }},
      {"neg", [](auto& r, auto& a, auto&) { field25519::neg(r, a); },
       [&](auto* r, auto* a, auto*) {
         BN_zero(r);
         BN_mod_sub(r, r, a, p, gCtx);
       }},
      {"invert", [](auto& r, auto& a, auto&) { field25519::invert(r, a); },
       [&](auto* r, auto* a, auto*) { BN_mod_exp(r, a, invertExponent, p, gCtx); }},
      {"pow22523", [](auto& r, auto& a, auto&) { field25519::pow22523(r, a); },
       [&](auto* r, auto* a, auto*) { BN_mod_exp(r, a, powExponent, p, gCtx); }},
      // A long chain of unreduced-looking operations stays exact.
      {"chain",
       [](auto& r, auto& a, auto& b) {
         r = a;
         for (int k = 0; k < 20; ++k) {
           field25519::sub(r, r, b);
           field25519::mul(r, r, r);
         }
       },
       [&](auto* r, auto* a, auto* b) {
         BN_copy(r, a);
         for (int k = 0; k < 20; ++k) {
           BN_mod_sub(r, r, b, p, gCtx);
           BN_mod_sqr(r, r, p, gCtx);
         }
       }},
  };
  auto values = testValues();
  for (size_t i = 0; i < values.size(); ++i) {
    const auto& a = values[i];
    const auto& b = values[(i * 7 + 3) % values.size()];
    FieldElement fa, fb, r;
    field25519::fromBytes(fa, a.data());
    field25519::fromBytes(fb, b.data());
    BIGNUM *ba = bigFromLe(a.data()), *bb = bigFromLe(b.data()), *expected = BN_new();
    for (const auto& [name, field, big] : ops) {
      field(r, fa, fb);
      big(expected, ba, bb);
      uint8_t want[32], got[32];
      BN_bn2lebinpad(expected, want, 32);
      field25519::toBytes(got, r);
      EXPECT_EQ(0, std::memcmp(want, got, 32)) << name << " case " << i;
    }
    BN_free(expected);
    BN_free(ba);
    BN_free(bb);
  }
  BN_free(invertExponent);
  BN_free(powExponent);
}

TEST(Field25519, ParityAndSwap) {
  uint8_t pMinusOne[32];
  std::memset(pMinusOne, 0xFF, 32);
  pMinusOne[31] = 0x7F;
  pMinusOne[0] = 0xEC;
  FieldElement f, g;
  field25519::fromBytes(f, pMinusOne);
  EXPECT_FALSE(field25519::isOdd(f));  // p - 1 is even
  field25519::neg(g, f);               // 1
  EXPECT_TRUE(field25519::isOdd(g));
  field25519::add(f, f, g);            // p = 0
  EXPECT_TRUE(field25519::isZero(f));

  FieldElement a, b;
  field25519::setSmall(a, 5);
  field25519::setSmall(b, 9);
  field25519::conditionalSwap(a, b, 0);
  uint8_t out[32];
  field25519::toBytes(out, a);
  EXPECT_EQ(5, out[0]);
  field25519::conditionalSwap(a, b, 1);
  field25519::toBytes(out, a);
  EXPECT_EQ(9, out[0]);
}

// RFC 7748's first X25519 test: the ladder with a clamped scalar is X25519.
TEST(LegacyCurve, LadderIsX25519ForClampedScalars) {
  const char* scalarHex = "a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4";
  const char* uHex = "e6db6867583030db3594c1a424b15f7c726624ec26b3353b10a903a6d0ab1c4c";
  const char* outHex = "c3da55379de9c6908e94ea4df28d084f32eccf03491c71f754b4075577a28552";
  auto parse = [](const char* hex, uint8_t out[32]) {
    for (int i = 0; i < 32; ++i) std::sscanf(hex + 2 * i, "%2hhx", &out[i]);
  };
  uint8_t scalar[32], u[32], want[32], got[32];
  parse(scalarHex, scalar);
  parse(uHex, u);
  parse(outHex, want);
  scalar[0] &= 248;
  scalar[31] = (scalar[31] & 127) | 64;
  montgomeryMultiply(got, scalar, u);
  EXPECT_EQ(0, std::memcmp(want, got, 32));
}

}  // namespace
