// Arithmetic in GF(2^255 - 19), the field of the legacy signature's curve.
// Elements are ten signed limbs of alternately 26 and 25 bits, so every
// limb product fits a 64-bit integer and the code runs on the router's
// 32-bit CPU without 128-bit arithmetic.
#pragma once
#include <cstdint>

struct FieldElement {
  int32_t limb[10];
};

namespace field25519 {

void setSmall(FieldElement& h, uint32_t value);
// All 256 bits count: a value of p or more is reduced, never masked.
void fromBytes(FieldElement& h, const uint8_t in[32]);
// The canonical value in [0, p), little-endian.
void toBytes(uint8_t out[32], const FieldElement& f);

void add(FieldElement& h, const FieldElement& f, const FieldElement& g);
void sub(FieldElement& h, const FieldElement& f, const FieldElement& g);
void neg(FieldElement& h, const FieldElement& f);
void mul(FieldElement& h, const FieldElement& f, const FieldElement& g);
void square(FieldElement& h, const FieldElement& f);
void mulSmall(FieldElement& h, const FieldElement& f, uint32_t c);  // c < 2^20
void invert(FieldElement& h, const FieldElement& f);     // f^(p-2); 0 stays 0
void pow22523(FieldElement& h, const FieldElement& f);   // f^((p-5)/8)

bool isOdd(const FieldElement& f);   // of the canonical value
bool isZero(const FieldElement& f);
// Swaps f and g when bit is 1, in time independent of bit.
void conditionalSwap(FieldElement& f, FieldElement& g, uint32_t bit);

}  // namespace field25519
