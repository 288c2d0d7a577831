// The legacy package signature: a hash of our own (one SHA-256-style
// compression with the program's table) and a check on curve25519's curve.
#pragma once
#include <cstddef>
#include <cstdint>

// One SHA-256-style compression with the program's own table; length <= 55.
void legacyHash(const uint8_t* data, size_t length, uint8_t out[32]);
bool verifyLegacySignature(const uint8_t digest[20], const uint8_t signature[68], const uint8_t key[32]);
// The legacy scalar e: legacyHash(digest) with r XORed into bytes 8 to 23,
// clamped as a curve25519 scalar. Shared by the check and the signer.
void legacyChallenge(const uint8_t digest[20], const uint8_t r[16], uint8_t e[32]);
