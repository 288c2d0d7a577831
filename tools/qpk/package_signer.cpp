// Signing an existing package file again. The digest a signature covers
// includes the signature part's own header, so a change of form resizes the
// parts first and only then replays the reader over the result.
#include <openssl/evp.h>

#include <cstring>
#include <sstream>

#include "package/package_reader.h"
#include "platform/endian.h"
#include "qpk/signing.h"

namespace qpk {

namespace {

constexpr uint32_t kShortSize = 68;
constexpr uint32_t kLongSize = 132;

// Copies the parts of file, giving every type-9 part the size the form asks
// for (zero-filled; its bytes are about to be replaced).
bool resizeSignatureParts(const std::string& file, SignatureForm form, std::string* out,
                          std::string* error) {
  if (file.size() < 8) {
    *error = "not a package file: shorter than its 8-byte header";
    return false;
  }
  const auto* bytes = reinterpret_cast<const uint8_t*>(file.data());
  const uint32_t magic = decodeFixed32(bytes);
  if (magic != PackageMagic && magic != UnrecordedMagic) {
    *error = "not a package file: unknown magic";
    return false;
  }
  std::string body;
  size_t at = 8;
  while (at < file.size()) {
    if (file.size() - at < 6) {
      *error = "the file ends inside a part header";
      return false;
    }
    const uint16_t type = decodeFixed16(bytes + at);
    const uint32_t length = decodeFixed32(bytes + at + 2);
    if (file.size() - at - 6 < length) {
      *error = "the file ends inside a part";
      return false;
    }
    uint32_t newLength = length;
    if (type == PartSignature && form != SignatureForm::None) {
      newLength = form == SignatureForm::Long ? kLongSize : kShortSize;
    }
    uint8_t header[6];
    encodeFixed16(header, type);
    encodeFixed32(header + 2, newLength);
    body.append(reinterpret_cast<const char*>(header), 6);
    if (newLength == length) {
      body.append(file, at + 6, length);
    } else {
      body.append(newLength, '\0');
    }
    at += 6 + static_cast<size_t>(length);
  }
  if (body.size() > 0xFFFFFFFFu - 8) {
    *error = "the file is too large";
    return false;
  }
  uint8_t header[8];
  encodeFixed32(header, magic);
  encodeFixed32(header + 4, static_cast<uint32_t>(body.size()));
  out->assign(reinterpret_cast<const char*>(header), 8);
  *out += body;
  return true;
}

}  // namespace

bool eddsaPublicKey(const uint8_t seed[32], uint8_t publicKey[32]) {
  EVP_PKEY* key = EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed, 32);
  if (key == nullptr) return false;
  size_t length = 32;
  bool ok = EVP_PKEY_get_raw_public_key(key, publicKey, &length) == 1 && length == 32;
  EVP_PKEY_free(key);
  return ok;
}

bool resignPackageFile(std::string* file, const SigningKeys& keys, SignatureForm form,
                       std::string* error) {
  std::string resized;
  if (!resizeSignatureParts(*file, form, &resized, error)) return false;

  // Replay the installer's reader: it closes the running digest on reaching
  // each type-9 part and reads the signature bytes past the digest.
  std::istringstream source(resized);
  PackageReader reader(source.rdbuf(), true, nullptr);
  reader.accept(PartSignature);
  int signatures = 0;
  while (reader.nextPart() == PartSignature) {
    const uint32_t available = reader.remaining();
    if (available < kShortSize) {
      *error = "a signature part of " + std::to_string(available) + " bytes is too short to sign";
      return false;
    }
    const uint32_t size = available >= kLongSize ? kLongSize : kShortSize;
    reader.closeDigest();
    const uint8_t* digest = reader.digestBuffer();
    uint8_t signature[kLongSize] = {};
    if (keys.hasLegacy) {
      if (!legacySign(digest, keys.legacySecret, signature)) {
        *error = "the legacy key cannot sign";
        return false;
      }
    } else if (size == kShortSize) {
      *error = "a short signature needs a legacy key";
      return false;
    }
    if (size == kLongSize) {
      if (!keys.hasEddsa) {
        *error = "a long signature needs an Ed25519 key";
        return false;
      }
      if (!eddsaSign(digest, keys.eddsaSeed, signature + kShortSize)) {
        *error = "the Ed25519 key cannot sign";
        return false;
      }
    }
    std::memcpy(resized.data() + reader.partStart(), signature, size);
    uint8_t old[kLongSize];
    if (!reader.readUndigested(old, size)) {
      *error = "the file ends inside a signature part";
      return false;
    }
    ++signatures;
  }
  if (signatures == 0) {
    *error = "the file has no signature part to sign";
    return false;
  }
  *file = std::move(resized);
  return true;
}

}  // namespace qpk
