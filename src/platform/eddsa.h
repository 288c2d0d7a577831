// Stand-in for the platform crypto library's EdDSA check (Ed25519, on libcrypto).
#pragma once
#include <cstdint>

namespace asn1 {
// A byte range: first and one-past-last address. Does not own the bytes.
struct blob {
  const uint8_t* begin;
  const uint8_t* end;
};
}  // namespace asn1

namespace eddsa {
// key: 32-byte public key; message: any length; signature: 64 bytes.
bool verify(asn1::blob key, asn1::blob message, asn1::blob signature);
}  // namespace eddsa
