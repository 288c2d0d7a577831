#include "platform/eddsa.h"

#include "platform/digest.h"

#include <openssl/evp.h>

namespace eddsa {

bool verify(asn1::blob key, asn1::blob message, asn1::blob signature) {
  if (key.begin == nullptr || key.end - key.begin != 32) return false;
  if (signature.begin == nullptr || signature.end - signature.begin != 64) return false;
  if (message.end < message.begin) return false;
  startCrypto();
  EVP_PKEY* publicKey = EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.begin, 32);
  if (publicKey == nullptr) return false;
  bool valid = false;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  if (ctx != nullptr && EVP_DigestVerifyInit(ctx, nullptr, nullptr, nullptr, publicKey) == 1) {
    static const uint8_t kEmpty = 0;
    const uint8_t* bytes = message.begin != nullptr ? message.begin : &kEmpty;
    size_t length = static_cast<size_t>(message.end - message.begin);
    valid = EVP_DigestVerify(ctx, signature.begin, 64, bytes, length) == 1;
  }
  EVP_MD_CTX_free(ctx);
  EVP_PKEY_free(publicKey);
  return valid;
}

}  // namespace eddsa
