#include "package/signature.h"

#include <sys/stat.h>

#include "installer_keys.h"
#include "package/legacy_curve.h"
#include "platform/eddsa.h"

namespace {

constexpr uint32_t kShortForm = 68;
constexpr uint32_t kLongForm = 132;

}  // namespace

int versionSignatureMode(const PackageInfo& package) {
  const uint32_t v = package.version;
  if (v <= 0x062E6608u || package.name == "branding") return 1;  // up to 6.46.8
  if (v <= 0x062EFFFFu) return 2;  // 6.46.9 to the end of 6.46
  if (v <= 0x06306600u) return 1;  // 6.47 to 6.48
  if (v <= 0x06FFFFFFu) return 2;  // 6.48.1 to the end of 6.x
  if (v <= 0x07016203u) return 1;  // 7.0 to 7.1beta3
  return 2;                        // 7.1beta4 on
}

int signatureMode(const PackageInfo& package) {
  struct stat st;
  if (stat("/ram/SECURE", &st) == 0) return 2;
  return versionSignatureMode(package);
}

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

bool verifySignature(const PackageInfo& package, PackageReader& reader) {
  // A reader without a running digest (stored images) has nothing to check.
  if (!reader.hashing()) return false;
  const int mode = signatureMode(package);
  reader.closeDigest();

  const uint32_t available = reader.remaining();
  uint32_t size;
  if (available >= kLongForm) {
    size = kLongForm;
  } else if (available >= kShortForm) {
    size = kShortForm;
  } else {
    return false;
  }
  uint8_t signature[kLongForm];
  if (!reader.readUndigested(signature, size)) return false;

  const uint8_t* digest = reader.digestBuffer();
  if (size == kLongForm) {
    // The message is the whole 32-byte buffer; after a SHA-1 digest its last
    // 12 bytes are zero.
    const asn1::blob key{kEddsaPublicKey, kEddsaPublicKey + 32};
    const asn1::blob message{digest, digest + 32};
    const asn1::blob sig{signature + kShortForm, signature + kLongForm};
    if (eddsa::verify(key, message, sig)) return true;
  }
  return mode == 1 && verifyLegacySignature(digest, signature, kLegacyPublicKey);
}
