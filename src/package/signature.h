// Package signatures: an Ed25519 signature over the running digest, or the
// older legacy signature on curve25519.
#pragma once
#include <cstddef>
#include <cstdint>

#include "model/package.h"
#include "package/package_reader.h"

// 1: EdDSA or legacy accepted; 2: EdDSA only.
int signatureMode(const PackageInfo& package);
// REQUIRES: the reader stands on the type-9 part.
bool verifySignature(const PackageInfo& package, PackageReader& reader);
// One SHA-256-style compression with the program's own table; length <= 55.
void legacyHash(const uint8_t* data, size_t length, uint8_t out[32]);
bool verifyLegacySignature(const uint8_t digest[20], const uint8_t signature[68], const uint8_t key[32]);
