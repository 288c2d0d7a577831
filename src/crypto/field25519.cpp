#include "crypto/field25519.h"

#include <cstring>

namespace field25519 {
namespace {

// Limb i holds bits [kOffset[i], kOffset[i] + kBits[i]) of the value.
constexpr int kBits[10] = {26, 25, 26, 25, 26, 25, 26, 25, 26, 25};

// One carry pass over wide limbs: every limb but the first ends in
// [0, 2^bits); the carry out of the top limb wraps round as 19 times itself,
// because 2^255 = 19 (mod p), and is carried once more out of limb 0.
void carry(FieldElement& h, int64_t t[10]) {
  for (int i = 0; i < 10; ++i) {
    int64_t c = t[i] >> kBits[i];  // arithmetic shift: floor, also for negatives
    t[i] -= c * (int64_t{1} << kBits[i]);
    if (i < 9) {
      t[i + 1] += c;
    } else {
      t[0] += 19 * c;
    }
  }
  int64_t c = t[0] >> 26;
  t[0] -= c * (int64_t{1} << 26);
  t[1] += c;
  for (int i = 0; i < 10; ++i) h.limb[i] = static_cast<int32_t>(t[i]);
}

// A pass without the wrap: limbs in range, the carry out of the top returned.
int64_t carryNoWrap(int64_t t[10]) {
  int64_t c = 0;
  for (int i = 0; i < 10; ++i) {
    t[i] += c;
    c = t[i] >> kBits[i];
    t[i] -= c * (int64_t{1} << kBits[i]);
  }
  return c;
}

void squareTimes(FieldElement& h, const FieldElement& f, int n) {
  square(h, f);
  for (int i = 1; i < n; ++i) square(h, h);
}

// f^(2^250 - 1), the common head of the inversion and the square-root power;
// also returns f^11.
void pow2250(FieldElement& out, FieldElement& f11, const FieldElement& f) {
  FieldElement f2, f9, t, f2_5, f2_10, f2_20, f2_50, f2_100;
  square(f2, f);                 // 2
  squareTimes(t, f2, 2);         // 8
  mul(f9, t, f);                 // 9
  mul(f11, f9, f2);              // 11
  square(t, f11);                // 22
  mul(f2_5, t, f9);              // 2^5 - 1
  squareTimes(t, f2_5, 5);
  mul(f2_10, t, f2_5);           // 2^10 - 1
  squareTimes(t, f2_10, 10);
  mul(f2_20, t, f2_10);          // 2^20 - 1
  squareTimes(t, f2_20, 20);
  mul(t, t, f2_20);              // 2^40 - 1
  squareTimes(t, t, 10);
  mul(f2_50, t, f2_10);          // 2^50 - 1
  squareTimes(t, f2_50, 50);
  mul(f2_100, t, f2_50);         // 2^100 - 1
  squareTimes(t, f2_100, 100);
  mul(t, t, f2_100);             // 2^200 - 1
  squareTimes(t, t, 50);
  mul(out, t, f2_50);            // 2^250 - 1
}

}  // namespace

void setSmall(FieldElement& h, uint32_t value) {
  int64_t t[10] = {static_cast<int64_t>(value)};
  carry(h, t);
}

void fromBytes(FieldElement& h, const uint8_t in[32]) {
  int64_t t[10];
  uint64_t acc = 0;
  int accBits = 0;
  int byte = 0;
  for (int i = 0; i < 10; ++i) {
    while (accBits < kBits[i] && byte < 32) {
      acc |= static_cast<uint64_t>(in[byte++]) << accBits;
      accBits += 8;
    }
    t[i] = static_cast<int64_t>(acc & ((uint64_t{1} << kBits[i]) - 1));
    acc >>= kBits[i];
    accBits -= kBits[i];
  }
  // What is left is bit 255: 2^255 = 19 (mod p).
  t[0] += 19 * static_cast<int64_t>(acc & 1);
  carry(h, t);
}

void toBytes(uint8_t out[32], const FieldElement& f) {
  int64_t t[10];
  for (int i = 0; i < 10; ++i) t[i] = f.limb[i];
  // Bring the value into [0, 2^255): fold the top carry until none is left
  // (at most a few rounds, since each one shrinks it to a few units).
  for (;;) {
    int64_t c = carryNoWrap(t);
    if (c == 0) break;
    t[0] += 19 * c;
  }
  // Now subtract p once if the value is p or more: value + 19 reaches 2^255.
  int64_t u[10];
  std::memcpy(u, t, sizeof u);
  u[0] += 19;
  if (carryNoWrap(u) != 0) std::memcpy(t, u, sizeof t);

  uint64_t acc = 0;
  int accBits = 0;
  int byte = 0;
  for (int i = 0; i < 10; ++i) {
    acc |= static_cast<uint64_t>(t[i]) << accBits;
    accBits += kBits[i];
    while (accBits >= 8) {
      out[byte++] = static_cast<uint8_t>(acc);
      acc >>= 8;
      accBits -= 8;
    }
  }
  // 255 bits leave 7 in the accumulator for the last byte.
  out[31] = static_cast<uint8_t>(acc);
}

void add(FieldElement& h, const FieldElement& f, const FieldElement& g) {
  int64_t t[10];
  for (int i = 0; i < 10; ++i) t[i] = int64_t{f.limb[i]} + g.limb[i];
  carry(h, t);
}

void sub(FieldElement& h, const FieldElement& f, const FieldElement& g) {
  int64_t t[10];
  for (int i = 0; i < 10; ++i) t[i] = int64_t{f.limb[i]} - g.limb[i];
  carry(h, t);
}

void neg(FieldElement& h, const FieldElement& f) {
  int64_t t[10];
  for (int i = 0; i < 10; ++i) t[i] = -int64_t{f.limb[i]};
  carry(h, t);
}

// Limb i has weight 2^ceil(25.5 i). The product of two odd limbs lands half
// a limb high, hence the factor 2; products past limb 9 wrap round as 19.
// Limbs stay below about 2^26 after every operation, so each of the ten
// terms of a column is below 2^58 and a column cannot overflow.
void mul(FieldElement& h, const FieldElement& f, const FieldElement& g) {
  int32_t g19[10];
  for (int j = 0; j < 10; ++j) g19[j] = 19 * g.limb[j];
  int32_t f2[10] = {};  // doubled odd limbs
  for (int i = 1; i < 10; i += 2) f2[i] = 2 * f.limb[i];
  int64_t t[10];
  t[0] = int64_t{f.limb[0]} * g.limb[0] +
         int64_t{f2[1]} * g19[9] +
         int64_t{f.limb[2]} * g19[8] +
         int64_t{f2[3]} * g19[7] +
         int64_t{f.limb[4]} * g19[6] +
         int64_t{f2[5]} * g19[5] +
         int64_t{f.limb[6]} * g19[4] +
         int64_t{f2[7]} * g19[3] +
         int64_t{f.limb[8]} * g19[2] +
         int64_t{f2[9]} * g19[1];
  t[1] = int64_t{f.limb[0]} * g.limb[1] +
         int64_t{f.limb[1]} * g.limb[0] +
         int64_t{f.limb[2]} * g19[9] +
         int64_t{f.limb[3]} * g19[8] +
         int64_t{f.limb[4]} * g19[7] +
         int64_t{f.limb[5]} * g19[6] +
         int64_t{f.limb[6]} * g19[5] +
         int64_t{f.limb[7]} * g19[4] +
         int64_t{f.limb[8]} * g19[3] +
         int64_t{f.limb[9]} * g19[2];
  t[2] = int64_t{f.limb[0]} * g.limb[2] +
         int64_t{f2[1]} * g.limb[1] +
         int64_t{f.limb[2]} * g.limb[0] +
         int64_t{f2[3]} * g19[9] +
         int64_t{f.limb[4]} * g19[8] +
         int64_t{f2[5]} * g19[7] +
         int64_t{f.limb[6]} * g19[6] +
         int64_t{f2[7]} * g19[5] +
         int64_t{f.limb[8]} * g19[4] +
         int64_t{f2[9]} * g19[3];
  t[3] = int64_t{f.limb[0]} * g.limb[3] +
         int64_t{f.limb[1]} * g.limb[2] +
         int64_t{f.limb[2]} * g.limb[1] +
         int64_t{f.limb[3]} * g.limb[0] +
         int64_t{f.limb[4]} * g19[9] +
         int64_t{f.limb[5]} * g19[8] +
         int64_t{f.limb[6]} * g19[7] +
         int64_t{f.limb[7]} * g19[6] +
         int64_t{f.limb[8]} * g19[5] +
         int64_t{f.limb[9]} * g19[4];
  t[4] = int64_t{f.limb[0]} * g.limb[4] +
         int64_t{f2[1]} * g.limb[3] +
         int64_t{f.limb[2]} * g.limb[2] +
         int64_t{f2[3]} * g.limb[1] +
         int64_t{f.limb[4]} * g.limb[0] +
         int64_t{f2[5]} * g19[9] +
         int64_t{f.limb[6]} * g19[8] +
         int64_t{f2[7]} * g19[7] +
         int64_t{f.limb[8]} * g19[6] +
         int64_t{f2[9]} * g19[5];
  t[5] = int64_t{f.limb[0]} * g.limb[5] +
         int64_t{f.limb[1]} * g.limb[4] +
         int64_t{f.limb[2]} * g.limb[3] +
         int64_t{f.limb[3]} * g.limb[2] +
         int64_t{f.limb[4]} * g.limb[1] +
         int64_t{f.limb[5]} * g.limb[0] +
         int64_t{f.limb[6]} * g19[9] +
         int64_t{f.limb[7]} * g19[8] +
         int64_t{f.limb[8]} * g19[7] +
         int64_t{f.limb[9]} * g19[6];
  t[6] = int64_t{f.limb[0]} * g.limb[6] +
         int64_t{f2[1]} * g.limb[5] +
         int64_t{f.limb[2]} * g.limb[4] +
         int64_t{f2[3]} * g.limb[3] +
         int64_t{f.limb[4]} * g.limb[2] +
         int64_t{f2[5]} * g.limb[1] +
         int64_t{f.limb[6]} * g.limb[0] +
         int64_t{f2[7]} * g19[9] +
         int64_t{f.limb[8]} * g19[8] +
         int64_t{f2[9]} * g19[7];
  t[7] = int64_t{f.limb[0]} * g.limb[7] +
         int64_t{f.limb[1]} * g.limb[6] +
         int64_t{f.limb[2]} * g.limb[5] +
         int64_t{f.limb[3]} * g.limb[4] +
         int64_t{f.limb[4]} * g.limb[3] +
         int64_t{f.limb[5]} * g.limb[2] +
         int64_t{f.limb[6]} * g.limb[1] +
         int64_t{f.limb[7]} * g.limb[0] +
         int64_t{f.limb[8]} * g19[9] +
         int64_t{f.limb[9]} * g19[8];
  t[8] = int64_t{f.limb[0]} * g.limb[8] +
         int64_t{f2[1]} * g.limb[7] +
         int64_t{f.limb[2]} * g.limb[6] +
         int64_t{f2[3]} * g.limb[5] +
         int64_t{f.limb[4]} * g.limb[4] +
         int64_t{f2[5]} * g.limb[3] +
         int64_t{f.limb[6]} * g.limb[2] +
         int64_t{f2[7]} * g.limb[1] +
         int64_t{f.limb[8]} * g.limb[0] +
         int64_t{f2[9]} * g19[9];
  t[9] = int64_t{f.limb[0]} * g.limb[9] +
         int64_t{f.limb[1]} * g.limb[8] +
         int64_t{f.limb[2]} * g.limb[7] +
         int64_t{f.limb[3]} * g.limb[6] +
         int64_t{f.limb[4]} * g.limb[5] +
         int64_t{f.limb[5]} * g.limb[4] +
         int64_t{f.limb[6]} * g.limb[3] +
         int64_t{f.limb[7]} * g.limb[2] +
         int64_t{f.limb[8]} * g.limb[1] +
         int64_t{f.limb[9]} * g.limb[0];
  carry(h, t);
}

// The same columns with the symmetric products taken once and doubled.
// Every factor stays below 2^31: doubled limbs on the left, the 19 and the
// odd-odd 2 on the right.
void square(FieldElement& h, const FieldElement& f) {
  const int32_t f1_2 = 2 * f.limb[1];
  const int32_t f9_38 = 38 * f.limb[9];
  const int32_t f2_2 = 2 * f.limb[2];
  const int32_t f8_19 = 19 * f.limb[8];
  const int32_t f3_2 = 2 * f.limb[3];
  const int32_t f7_38 = 38 * f.limb[7];
  const int32_t f4_2 = 2 * f.limb[4];
  const int32_t f6_19 = 19 * f.limb[6];
  const int32_t f5_38 = 38 * f.limb[5];
  const int32_t f0_2 = 2 * f.limb[0];
  const int32_t f9_19 = 19 * f.limb[9];
  const int32_t f7_19 = 19 * f.limb[7];
  const int32_t f5_2 = 2 * f.limb[5];
  const int32_t f6_2 = 2 * f.limb[6];
  const int32_t f7_2 = 2 * f.limb[7];
  const int32_t f8_2 = 2 * f.limb[8];
  int64_t t[10];
  t[0] = int64_t{f.limb[0]} * f.limb[0] +
         int64_t{f1_2} * f9_38 +
         int64_t{f2_2} * f8_19 +
         int64_t{f3_2} * f7_38 +
         int64_t{f4_2} * f6_19 +
         int64_t{f.limb[5]} * f5_38;
  t[1] = int64_t{f0_2} * f.limb[1] +
         int64_t{f2_2} * f9_19 +
         int64_t{f3_2} * f8_19 +
         int64_t{f4_2} * f7_19 +
         int64_t{f5_2} * f6_19;
  t[2] = int64_t{f0_2} * f.limb[2] +
         int64_t{f.limb[1]} * f1_2 +
         int64_t{f3_2} * f9_38 +
         int64_t{f4_2} * f8_19 +
         int64_t{f5_2} * f7_38 +
         int64_t{f.limb[6]} * f6_19;
  t[3] = int64_t{f0_2} * f.limb[3] +
         int64_t{f1_2} * f.limb[2] +
         int64_t{f4_2} * f9_19 +
         int64_t{f5_2} * f8_19 +
         int64_t{f6_2} * f7_19;
  t[4] = int64_t{f0_2} * f.limb[4] +
         int64_t{f1_2} * f3_2 +
         int64_t{f.limb[2]} * f.limb[2] +
         int64_t{f5_2} * f9_38 +
         int64_t{f6_2} * f8_19 +
         int64_t{f.limb[7]} * f7_38;
  t[5] = int64_t{f0_2} * f.limb[5] +
         int64_t{f1_2} * f.limb[4] +
         int64_t{f2_2} * f.limb[3] +
         int64_t{f6_2} * f9_19 +
         int64_t{f7_2} * f8_19;
  t[6] = int64_t{f0_2} * f.limb[6] +
         int64_t{f1_2} * f5_2 +
         int64_t{f2_2} * f.limb[4] +
         int64_t{f.limb[3]} * f3_2 +
         int64_t{f7_2} * f9_38 +
         int64_t{f.limb[8]} * f8_19;
  t[7] = int64_t{f0_2} * f.limb[7] +
         int64_t{f1_2} * f.limb[6] +
         int64_t{f2_2} * f.limb[5] +
         int64_t{f3_2} * f.limb[4] +
         int64_t{f8_2} * f9_19;
  t[8] = int64_t{f0_2} * f.limb[8] +
         int64_t{f1_2} * f7_2 +
         int64_t{f2_2} * f.limb[6] +
         int64_t{f3_2} * f5_2 +
         int64_t{f.limb[4]} * f.limb[4] +
         int64_t{f.limb[9]} * f9_38;
  t[9] = int64_t{f0_2} * f.limb[9] +
         int64_t{f1_2} * f.limb[8] +
         int64_t{f2_2} * f.limb[7] +
         int64_t{f3_2} * f.limb[6] +
         int64_t{f4_2} * f.limb[5];
  carry(h, t);
}

void mulSmall(FieldElement& h, const FieldElement& f, uint32_t c) {
  int64_t t[10];
  for (int i = 0; i < 10; ++i) t[i] = int64_t{f.limb[i]} * static_cast<int64_t>(c);
  carry(h, t);
}

void invert(FieldElement& h, const FieldElement& f) {
  FieldElement t, f11;
  pow2250(t, f11, f);
  squareTimes(t, t, 5);  // 2^255 - 32
  mul(h, t, f11);        // 2^255 - 21 = p - 2
}

void pow22523(FieldElement& h, const FieldElement& f) {
  FieldElement t, f11;
  pow2250(t, f11, f);
  squareTimes(t, t, 2);  // 2^252 - 4
  mul(h, t, f);          // 2^252 - 3 = (p - 5) / 8
}

bool isOdd(const FieldElement& f) {
  uint8_t s[32];
  toBytes(s, f);
  return (s[0] & 1) != 0;
}

bool isZero(const FieldElement& f) {
  uint8_t s[32];
  toBytes(s, f);
  uint8_t any = 0;
  for (uint8_t b : s) any |= b;
  return any == 0;
}

void conditionalSwap(FieldElement& f, FieldElement& g, uint32_t bit) {
  const int32_t mask = -static_cast<int32_t>(bit & 1);
  for (int i = 0; i < 10; ++i) {
    const int32_t x = mask & (f.limb[i] ^ g.limb[i]);
    f.limb[i] ^= x;
    g.limb[i] ^= x;
  }
}

}  // namespace field25519
