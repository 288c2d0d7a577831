#include "platform/digest.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cstdlib>

namespace {

// A digest context that cannot be made or started leaves the program without
// its signature check, so it is treated as fatal rather than reported late.
evp_md_ctx_st* startDigest(const EVP_MD* type) {
  startCrypto();
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  if (ctx == nullptr || EVP_DigestInit_ex(ctx, type, nullptr) != 1) std::abort();
  return ctx;
}

void finishDigest(evp_md_ctx_st* ctx, const EVP_MD* type, uint8_t* out) {
  unsigned length = 0;
  if (EVP_DigestFinal_ex(ctx, out, &length) != 1 || EVP_DigestInit_ex(ctx, type, nullptr) != 1) std::abort();
}

}  // namespace

void startCrypto() {
  // The stand-ins answer the same on every machine: no configuration file
  // of the host's library (and half a megabyte less memory).
  static const bool started = OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr) == 1;
  (void)started;
}

SHA1::SHA1() : ctx_(startDigest(EVP_sha1())) {}
SHA1::~SHA1() { EVP_MD_CTX_free(ctx_); }
void SHA1::update(const void* data, size_t length) { EVP_DigestUpdate(ctx_, data, length); }
void SHA1::final(uint8_t out[kSize]) { finishDigest(ctx_, EVP_sha1(), out); }

SHA256::SHA256() : ctx_(startDigest(EVP_sha256())) {}
SHA256::~SHA256() { EVP_MD_CTX_free(ctx_); }
void SHA256::update(const void* data, size_t length) { EVP_DigestUpdate(ctx_, data, length); }
void SHA256::final(uint8_t out[kSize]) { finishDigest(ctx_, EVP_sha256(), out); }
