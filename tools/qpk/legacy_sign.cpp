// Placeholder until the legacy signer is built: an all-zero legacy half,
// which never verifies; the Ed25519 half of a long signature still does.
#include <cstring>

#include "qpk/package_builder.h"

namespace qpk {
bool legacySign(const uint8_t*, const uint8_t*, uint8_t signature[68]) {
  std::memset(signature, 0, 68);
  return true;
}
}  // namespace qpk
