#include "crypto/legacy_curve.h"

#include "crypto/field25519.h"

using namespace field25519;

namespace {

constexpr uint32_t kCurveA = 486662;
constexpr uint32_t kA24 = 121665;          // (A - 2) / 4
constexpr uint32_t kBaseV2 = 39420360;     // v^2 of the base point u = 9

// The even square root of 39420360, little-endian.
constexpr uint8_t kBaseV[32] = {
    0x14, 0x2c, 0x31, 0x81, 0x5d, 0x3a, 0x16, 0xd6, 0x4d, 0x9e, 0x83, 0x92, 0x81, 0xb2, 0xc2, 0x6d,
    0xb3, 0x2e, 0xb7, 0x88, 0xd3, 0x22, 0xe1, 0x1f, 0x4b, 0x79, 0x5f, 0x47, 0x5e, 0xe6, 0x51, 0x5f,
};

struct Projective {
  FieldElement x, z;
};

inline uint32_t bitOf(const uint8_t scalar[32], int i) { return (scalar[i >> 3] >> (i & 7)) & 1; }

// 2P, with sum = X + Z and diff = X - Z of P precomputed.
void doublePoint(Projective& out, const FieldElement& sum, const FieldElement& diff) {
  FieldElement aa, bb, e, t;
  square(aa, sum);
  square(bb, diff);
  sub(e, aa, bb);  // 4XZ
  mul(out.x, aa, bb);
  mulSmall(t, e, kA24);
  add(t, t, aa);
  mul(out.z, e, t);
}

// P + Q from their sums and differences, knowing u(P - Q) = uDiff (affine).
void addPoints(Projective& out, const FieldElement& sumP, const FieldElement& diffP,
               const FieldElement& sumQ, const FieldElement& diffQ, const FieldElement& uDiff) {
  FieldElement u, v, t;
  mul(u, diffP, sumQ);
  mul(v, sumP, diffQ);
  add(t, u, v);
  square(out.x, t);
  sub(t, u, v);
  square(t, t);
  mul(out.z, t, uDiff);
}

void affine(uint8_t out[32], const Projective& p) {
  FieldElement inv, u;
  invert(inv, p.z);  // the neutral point has Z = 0, and 0 inverts to 0: u = 0
  mul(u, p.x, inv);
  toBytes(out, u);
}

}  // namespace

void montgomeryMultiply(uint8_t out[32], const uint8_t scalar[32], const uint8_t uIn[32]) {
  FieldElement u;
  fromBytes(u, uIn);
  Projective r0, r1;  // r0 = j·P, r1 = (j + 1)·P for the scalar prefix j
  setSmall(r0.x, 1);
  setSmall(r0.z, 0);
  r1.x = u;
  setSmall(r1.z, 1);
  uint32_t swapped = 0;
  for (int i = 255; i >= 0; --i) {
    const uint32_t bit = bitOf(scalar, i);
    conditionalSwap(r0.x, r1.x, swapped ^ bit);
    conditionalSwap(r0.z, r1.z, swapped ^ bit);
    swapped = bit;
    FieldElement s0, d0, s1, d1;
    add(s0, r0.x, r0.z);
    sub(d0, r0.x, r0.z);
    add(s1, r1.x, r1.z);
    sub(d1, r1.x, r1.z);
    addPoints(r1, s0, d0, s1, d1, u);
    doublePoint(r0, s0, d0);
  }
  conditionalSwap(r0.x, r1.x, swapped);
  conditionalSwap(r0.z, r1.z, swapped);
  affine(out, r0);
}

// A two-scalar ladder over three points: T0 = j·G + k·A for the scalar
// prefixes j of e and k of s, T1 = T0 + G + A, and T2, which is either
// T0 + G (kind G) or T0 + A (kind A). Each bit pair then costs one doubling
// and two differential additions whose differences are G, A or G + A, all
// with known u-coordinates. A pair (1, 0) needs kind G and a pair (0, 1)
// kind A; equal pairs keep the kind, mixed pairs may switch it, so the kind
// is chosen by looking ahead to the next mixed pair. Verification works on
// public data only, so the ladder need not hide the scalar bits.
void legacyCombination(uint8_t out[32], const uint8_t e[32], const uint8_t s[32],
                       const uint8_t key[32]) {
  FieldElement k, w, t, c, q, v, vG, twoVG, den, uG, uApG, scratch;
  fromBytes(k, key);

  // w = K^3 + 486662 K^2 + K, and its root V by the (p-5)/8-power method.
  setSmall(t, kCurveA);
  add(t, t, k);
  mul(t, t, k);
  setSmall(scratch, 1);
  add(t, t, scratch);
  mul(w, t, k);
  add(c, w, w);
  pow22523(q, c);
  square(t, q);
  mul(t, t, c);
  sub(t, t, scratch);  // c·q^2 - 1
  mul(v, w, q);
  mul(v, v, t);
  if (isOdd(v)) neg(v, v);

  // u(A + G) = (vA - vG)^2 / (K - 9)^2 - 486662 - K - 9, where
  // (vA - vG)^2 = w + 39420360 - 2·vG·vA.
  fromBytes(vG, kBaseV);
  add(twoVG, vG, vG);
  setSmall(uG, 9);
  sub(den, k, uG);
  square(den, den);
  invert(den, den);
  mul(t, twoVG, v);
  setSmall(scratch, kBaseV2);
  add(scratch, scratch, w);
  sub(t, scratch, t);
  mul(t, t, den);
  setSmall(scratch, kCurveA + 9);
  add(scratch, scratch, k);
  sub(uApG, t, scratch);

  // kindNeeded[i]: the kind the first mixed pair at bit i or below needs
  // (0 = G, 1 = A), or -1 when no mixed pair is left.
  int kindNeeded[256];
  for (int i = 0; i < 256; ++i) {
    const uint32_t x = bitOf(e, i), y = bitOf(s, i);
    kindNeeded[i] = x != y ? static_cast<int>(y) : (i > 0 ? kindNeeded[i - 1] : -1);
  }

  // Start at T0 = the neutral point.
  int kind = kindNeeded[255] == 1 ? 1 : 0;
  Projective t0, t1, t2;
  setSmall(t0.x, 1);
  setSmall(t0.z, 0);
  t1.x = uApG;
  setSmall(t1.z, 1);
  t2.x = kind == 0 ? uG : k;
  setSmall(t2.z, 1);

  for (int i = 255; i >= 0; --i) {
    const uint32_t x = bitOf(e, i);
    const uint32_t y = bitOf(s, i);
    FieldElement s0, d0, s1, d1, s2, d2;
    add(s0, t0.x, t0.z);
    sub(d0, t0.x, t0.z);
    add(s1, t1.x, t1.z);
    sub(d1, t1.x, t1.z);
    add(s2, t2.x, t2.z);
    sub(d2, t2.x, t2.z);
    const FieldElement& uKind = kind == 0 ? uG : k;      // T2 - T0
    const FieldElement& uOther = kind == 0 ? k : uG;     // T1 - T2
    if (x == y) {
      if (x == 0) {
        addPoints(t2, s0, d0, s2, d2, uKind);
        addPoints(t1, s0, d0, s1, d1, uApG);
        doublePoint(t0, s0, d0);
      } else {
        addPoints(t2, s1, d1, s2, d2, uOther);
        addPoints(t0, s0, d0, s1, d1, uApG);
        doublePoint(t1, s1, d1);
      }
    } else {
      // x != y means the pair asks for exactly this kind.
      const int next = i > 0 && kindNeeded[i - 1] >= 0 ? kindNeeded[i - 1] : kind;
      Projective n0, n1;
      addPoints(n0, s0, d0, s2, d2, uKind);
      addPoints(n1, s1, d1, s2, d2, uOther);
      if (next == kind) {
        doublePoint(t2, s2, d2);
      } else {
        addPoints(t2, s0, d0, s1, d1, uApG);
        kind = next;
      }
      t0 = n0;
      t1 = n1;
    }
  }
  affine(out, t0);
}
