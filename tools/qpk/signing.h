// Key pairs and re-signing for package authors: the parts of signing that
// the builder itself does not need.
#pragma once
#include <cstdint>
#include <string>

#include "qpk/package_builder.h"

namespace qpk {

// A legacy key pair from 32 random bytes: the public key is u(a·G) for the
// clamped seed a (the X25519 public key of the seed); the secret is the
// signing scalar a mod l, or l - (a mod l) when a·G has an odd v, because the
// checker rebuilds the public point with the even root.
bool makeLegacyKeyPair(const uint8_t seed[32], uint8_t secret[32], uint8_t publicKey[32]);
// The legacy public key of a signing scalar.
void legacyPublicKey(const uint8_t secret[32], uint8_t publicKey[32]);
// The Ed25519 public key of a seed (RFC 8032 private key).
bool eddsaPublicKey(const uint8_t seed[32], uint8_t publicKey[32]);

// Signs every package of a package file or bundle again, in place. Each
// type-9 part is first resized to the form asked for (Long: 132 bytes,
// Short: 68; None keeps each part's size, reading 132 bytes or more as long),
// since the part's header is covered by the digest.
bool resignPackageFile(std::string* file, const SigningKeys& keys, SignatureForm form,
                       std::string* error);

}  // namespace qpk
