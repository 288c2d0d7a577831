// Package signatures: an Ed25519 signature over the running digest, or the
// older legacy signature on curve25519.
#pragma once
#include <cstddef>
#include <cstdint>

#include "model/package.h"
#include "package/package_reader.h"

// 1: EdDSA or legacy accepted; 2: EdDSA only. "/ram/SECURE" forces 2.
int signatureMode(const PackageInfo& package);
// The mode by version and name alone, as if "/ram/SECURE" were absent (for
// tools that inspect packages off the router).
int versionSignatureMode(const PackageInfo& package);
// REQUIRES: the reader stands on the type-9 part.
bool verifySignature(const PackageInfo& package, PackageReader& reader);
// One SHA-256-style compression with the program's own table; length <= 55.
void legacyHash(const uint8_t* data, size_t length, uint8_t out[32]);
bool verifyLegacySignature(const uint8_t digest[20], const uint8_t signature[68], const uint8_t key[32]);
// The legacy scalar e: legacyHash(digest) with r XORed into bytes 8 to 23,
// clamped as a curve25519 scalar. Shared by the check and the signer.
void legacyChallenge(const uint8_t digest[20], const uint8_t r[16], uint8_t e[32]);
