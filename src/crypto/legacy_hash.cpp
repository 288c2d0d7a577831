// legacyHash: one block of the SHA-256 compression, run from the program's
// own table. The table words are the first 32 fractional bits of the square
// roots of the 9th to 16th primes and of the cube roots of the 65th to 128th
// primes (the same rule over the first primes gives SHA-256's own table), so
// anyone can rebuild it; no digest library computes this variant for us.
#include <cstring>

#include "crypto/legacy_signature.h"

namespace {

constexpr uint32_t kInitialState[8] = {
    0xcbbb9d5d, 0x629a292a, 0x9159015a, 0x152fecd8, 0x67332667, 0x8eb44a87, 0xdb0c2e0d, 0x47b5481d,
};

constexpr uint32_t kRoundConstants[64] = {
    0xca273ece, 0xd186b8c7, 0xeada7dd6, 0xf57d4f7f, 0x06f067aa, 0x0a637dc5, 0x113f9804, 0x1b710b35,
    0x28db77f5, 0x32caab7b, 0x3c9ebe0a, 0x431d67c4, 0x4cc5d4be, 0x597f299c, 0x5fcb6fab, 0x6c44198c,
    0x7ba0ea2d, 0x7eabf2d0, 0x8dbe8d03, 0x90bb1721, 0x99a2ad45, 0x9f86e289, 0xa84c4472, 0xb3df34fc,
    0xb99bb8d7, 0xbc76cbab, 0xc226a69a, 0xd304f19a, 0xde1be20a, 0xe39bb437, 0xee84927c, 0xf3edd277,
    0xfbfdfe53, 0x0bee2c7a, 0x0e90181c, 0x25f57204, 0x2da45582, 0x3a52c34c, 0x41dc0172, 0x495796fc,
    0x4bd31fc6, 0x533cde21, 0x5f7abfe3, 0x66c206b3, 0x6dfcc6bc, 0x7062f20f, 0x778d5127, 0x7eaba3cc,
    0x8363eccc, 0x85be1c25, 0x93c04028, 0x9f4a205f, 0xa1953565, 0xa627bb0f, 0xacfa8089, 0xb3c29b23,
    0xb602f6fa, 0xc36cee0a, 0xc7dc81ee, 0xce7b8471, 0xd740288c, 0xe21dba7a, 0xeabbff66, 0xf56a9e60,
};

inline uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t loadBig32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

inline void storeBig32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

}  // namespace

void legacyHash(const uint8_t* data, size_t length, uint8_t out[32]) {
  // One padded block only: a longer message would need a second block, which
  // no caller has (digests are 20 bytes, u-coordinates 32). Clamp rather than
  // write past the block.
  if (length > 55) length = 55;
  uint8_t block[64] = {};
  if (length > 0) std::memcpy(block, data, length);
  block[length] = 0x80;
  storeBig32(block + 60, static_cast<uint32_t>(length * 8));

  uint32_t w[64];
  for (int i = 0; i < 16; ++i) w[i] = loadBig32(block + 4 * i);
  for (int i = 16; i < 64; ++i) {
    uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
    uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }

  uint32_t a = kInitialState[0], b = kInitialState[1], c = kInitialState[2], d = kInitialState[3];
  uint32_t e = kInitialState[4], f = kInitialState[5], g = kInitialState[6], h = kInitialState[7];
  for (int i = 0; i < 64; ++i) {
    uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) +
                  kRoundConstants[i] + w[i];
    uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  const uint32_t state[8] = {kInitialState[0] + a, kInitialState[1] + b, kInitialState[2] + c,
                             kInitialState[3] + d, kInitialState[4] + e, kInitialState[5] + f,
                             kInitialState[6] + g, kInitialState[7] + h};
  for (int i = 0; i < 8; ++i) storeBig32(out + 4 * i, state[i]);
}
