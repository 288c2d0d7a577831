#include "crypto/legacy_signature.h"

#include "crypto/legacy_curve.h"

void legacyChallenge(const uint8_t digest[20], const uint8_t r[16], uint8_t e[32]) {
  legacyHash(digest, 20, e);
  for (int i = 0; i < 16; ++i) e[8 + i] ^= r[i];
  e[0] &= 0xF8;
  e[31] = static_cast<uint8_t>((e[31] & 0x7F) | 0x40);
}

bool verifyLegacySignature(const uint8_t digest[20], const uint8_t signature[68], const uint8_t key[32]) {
  const uint8_t* r = signature + 20;
  const uint8_t* s = signature + 36;
  uint8_t e[32];
  legacyChallenge(digest, r, e);
  uint8_t u[32];
  legacyCombination(u, e, s, key);
  uint8_t t[32];
  legacyHash(u, 32, t);
  uint8_t difference = 0;
  for (int i = 0; i < 16; ++i) difference |= static_cast<uint8_t>(t[i] ^ r[i]);
  return difference == 0;
}
