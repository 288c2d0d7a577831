// Package signatures: an Ed25519 signature over the running digest, or the
// older legacy signature on curve25519 (its arithmetic is in crypto/).
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
// REQUIRES: the reader stands on the type-9 part. knownGood, when given, is a
// digest whose signature an earlier read of the same stream found good: the
// same digest again needs no second check.
bool verifySignature(const PackageInfo& package, PackageReader& reader, const uint8_t* knownGood);
