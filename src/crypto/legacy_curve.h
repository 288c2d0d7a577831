// Scalar multiples on curve25519's Montgomery curve v^2 = u^3 + 486662 u^2 + u,
// computed from u-coordinates only, for the legacy package signature.
#pragma once
#include <cstdint>

// u(k·P) for the point P with u-coordinate u (32 bytes little-endian, all
// 256 bits, reduced mod p). The scalar is used whole: not clamped, not
// reduced, bit 255 included. The ladder runs in time independent of k, so
// the signer may feed it secret nonces. The neutral point yields u = 0.
void montgomeryMultiply(uint8_t out[32], const uint8_t scalar[32], const uint8_t u[32]);

// u(e·G + s·A), where G = (9, vG) with vG the even root, and A is the point
// over u = key whose v is the even root found by the (p-5)/8-power method.
// Both scalars count with all 256 bits.
void legacyCombination(uint8_t out[32], const uint8_t e[32], const uint8_t s[32],
                       const uint8_t key[32]);
