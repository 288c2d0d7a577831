#include "package/signature.h"

#include <sys/stat.h>

#include <cstring>

#include "crypto/legacy_signature.h"
#include "installer_keys.h"
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

bool verifySignature(const PackageInfo& package, PackageReader& reader, const uint8_t* knownGood) {
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
  if (knownGood != nullptr && std::memcmp(digest, knownGood, 32) == 0) return true;
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
