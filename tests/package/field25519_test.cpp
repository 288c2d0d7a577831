// The field arithmetic against OpenSSL's big numbers, on random and edge
// values: limb carries, the reduction of values of p or more, and the powers.
#include "package/field25519.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <cstdio>
#include <cstring>
#include <random>

#include "package/legacy_curve.h"

namespace {

struct BigContext {
  BN_CTX* ctx = BN_CTX_new();
  BIGNUM* p = BN_new();
  BigContext() {
    BN_set_bit(p, 255);
    BN_sub_word(p, 19);
  }
  ~BigContext() {
    BN_free(p);
    BN_CTX_free(ctx);
  }
};

void reverse32(uint8_t* out, const uint8_t* in) {
  for (int i = 0; i < 32; ++i) out[i] = in[31 - i];
}

BIGNUM* bigFromLe(const uint8_t in[32]) {
  uint8_t be[32];
  reverse32(be, in);
  return BN_bin2bn(be, 32, nullptr);
}

void leFromBig(uint8_t out[32], const BIGNUM* b) {
  uint8_t be[32];
  BN_bn2binpad(b, be, 32);
  reverse32(out, be);
}

std::vector<std::array<uint8_t, 32>> testValues() {
  std::vector<std::array<uint8_t, 32>> values;
  std::array<uint8_t, 32> v{};
  values.push_back(v);  // 0
  v[0] = 1;
  values.push_back(v);  // 1
  v.fill(0xFF);
  values.push_back(v);  // 2^256 - 1
  v[31] = 0x7F;
  values.push_back(v);  // 2^255 - 1 = p + 18
  v[0] = 0xED;
  values.push_back(v);  // p
  v[0] = 0xEC;
  values.push_back(v);  // p - 1
  v.fill(0);
  v[31] = 0x80;
  values.push_back(v);  // 2^255
  std::mt19937 random(7);
  for (int i = 0; i < 200; ++i) {
    for (auto& b : v) b = static_cast<uint8_t>(random());
    values.push_back(v);
  }
  return values;
}

TEST(Field25519, MatchesBigNumbers) {
  BigContext big;
  auto values = testValues();
  for (size_t i = 0; i < values.size(); ++i) {
    const auto& a = values[i];
    const auto& b = values[(i * 7 + 3) % values.size()];
    FieldElement fa, fb, r;
    field25519::fromBytes(fa, a.data());
    field25519::fromBytes(fb, b.data());
    BIGNUM* ba = bigFromLe(a.data());
    BIGNUM* bb = bigFromLe(b.data());
    BIGNUM* expected = BN_new();
    uint8_t want[32], got[32];
    auto check = [&](const char* what) {
      leFromBig(want, expected);
      field25519::toBytes(got, r);
      EXPECT_EQ(0, std::memcmp(want, got, 32)) << what << " case " << i;
    };

    BN_nnmod(expected, ba, big.p, big.ctx);
    r = fa;
    check("reduce");
    BN_mod_add(expected, ba, bb, big.p, big.ctx);
    field25519::add(r, fa, fb);
    check("add");
    BN_mod_sub(expected, ba, bb, big.p, big.ctx);
    field25519::sub(r, fa, fb);
    check("sub");
    BN_mod_mul(expected, ba, bb, big.p, big.ctx);
    field25519::mul(r, fa, fb);
    check("mul");
    BN_mod_sqr(expected, ba, big.p, big.ctx);
    field25519::square(r, fa);
    check("square");
    BN_set_word(expected, 121665);
    BN_mod_mul(expected, expected, ba, big.p, big.ctx);
    field25519::mulSmall(r, fa, 121665);
    check("mulSmall");
    BN_zero(expected);
    BN_mod_sub(expected, expected, ba, big.p, big.ctx);
    field25519::neg(r, fa);
    check("neg");

    BIGNUM* e = BN_new();
    BN_copy(e, big.p);
    BN_sub_word(e, 2);
    BN_mod_exp(expected, ba, e, big.p, big.ctx);
    field25519::invert(r, fa);
    check("invert");
    BN_copy(e, big.p);
    BN_sub_word(e, 5);
    BN_rshift(e, e, 3);
    BN_mod_exp(expected, ba, e, big.p, big.ctx);
    field25519::pow22523(r, fa);
    check("pow22523");

    // A long chain of unreduced-looking operations stays exact.
    FieldElement chain = fa;
    BIGNUM* bchain = BN_dup(ba);
    for (int k = 0; k < 20; ++k) {
      field25519::sub(chain, chain, fb);
      field25519::mul(chain, chain, chain);
      BN_mod_sub(bchain, bchain, bb, big.p, big.ctx);
      BN_mod_sqr(bchain, bchain, big.p, big.ctx);
    }
    BN_copy(expected, bchain);
    r = chain;
    check("chain");

    BN_free(bchain);
    BN_free(e);
    BN_free(expected);
    BN_free(ba);
    BN_free(bb);
  }
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
