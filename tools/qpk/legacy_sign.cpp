// The legacy signer: s = (k - e) / a' mod l, so that e·G + s·A = k·G and the
// checker recomputes r from u(k·G). Scalar arithmetic mod l uses big numbers;
// the curve work is the installer's own ladder.
#include <openssl/bn.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <cstring>
#include <memory>

#include "crypto/legacy_curve.h"
#include "crypto/legacy_signature.h"
#include "qpk/signing.h"

namespace qpk {

namespace {

// l = 2^252 + 27742317777372353535851937790883648493, the order of G, big-endian.
constexpr uint8_t kOrderBigEndian[32] = {
    0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x14, 0xde, 0xf9, 0xde, 0xa2, 0xf7, 0x9c, 0xd6, 0x58, 0x12, 0x63, 0x1a, 0x5c, 0xf5, 0xd3, 0xed,
};
constexpr uint8_t kBase[32] = {9};

struct BnFree {
  void operator()(BIGNUM* b) const { BN_clear_free(b); }
};
struct CtxFree {
  void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};
using Big = std::unique_ptr<BIGNUM, BnFree>;

Big bigFromLe(const uint8_t* bytes, int n) { return Big(BN_lebin2bn(bytes, n, nullptr)); }

Big order() { return Big(BN_bin2bn(kOrderBigEndian, 32, nullptr)); }

bool bigToLe32(const BIGNUM* b, uint8_t out[32]) { return BN_bn2lebinpad(b, out, 32) == 32; }

}  // namespace

void legacyPublicKey(const uint8_t secret[32], uint8_t publicKey[32]) {
  montgomeryMultiply(publicKey, secret, kBase);
}

bool legacySign(const uint8_t digest[20], const uint8_t secret[32], uint8_t signature[68]) {
  std::unique_ptr<BN_CTX, CtxFree> ctx(BN_CTX_new());
  Big l = order();
  Big a = bigFromLe(secret, 32);
  if (!ctx || !l || !a || BN_is_zero(a.get()) || BN_cmp(a.get(), l.get()) >= 0) return false;
  Big aInverse(BN_mod_inverse(nullptr, a.get(), l.get(), ctx.get()));
  if (!aInverse) return false;

  // A fresh nonce for every signature: one k used for two digests gives a'
  // away. Hashing the secret and digest in as well keeps k sound even when
  // the random source is weak.
  Big k(BN_new());
  for (int attempt = 0;; ++attempt) {
    if (attempt == 8) return false;
    uint8_t material[32 + 32 + 20];
    if (RAND_bytes(material, 32) != 1) return false;
    std::memcpy(material + 32, secret, 32);
    std::memcpy(material + 64, digest, 20);
    uint8_t hash[SHA512_DIGEST_LENGTH];
    SHA512(material, sizeof material, hash);
    OPENSSL_cleanse(material, sizeof material);
    Big wide = bigFromLe(hash, sizeof hash);
    OPENSSL_cleanse(hash, sizeof hash);
    if (!wide || !BN_nnmod(k.get(), wide.get(), l.get(), ctx.get())) return false;
    if (!BN_is_zero(k.get())) break;
  }

  uint8_t kBytes[32], u[32], hashOfU[32], e[32];
  if (!bigToLe32(k.get(), kBytes)) return false;
  montgomeryMultiply(u, kBytes, kBase);  // unclamped: X25519 would clamp k
  OPENSSL_cleanse(kBytes, sizeof kBytes);
  legacyHash(u, 32, hashOfU);

  std::memset(signature, 0, 68);
  std::memcpy(signature + 20, hashOfU, 16);  // r
  legacyChallenge(digest, signature + 20, e);

  Big eBig = bigFromLe(e, 32);  // not reduced: the checker uses e whole
  Big s(BN_new());
  if (!eBig || !s || !BN_mod_sub(s.get(), k.get(), eBig.get(), l.get(), ctx.get()) ||
      !BN_mod_mul(s.get(), s.get(), aInverse.get(), l.get(), ctx.get()) ||
      !bigToLe32(s.get(), signature + 36)) {
    return false;
  }

  // A secret of the wrong parity (or any slip above) makes signatures that no
  // router accepts; never hand one out.
  uint8_t publicKey[32];
  legacyPublicKey(secret, publicKey);
  return verifyLegacySignature(digest, signature, publicKey);
}

bool makeLegacyKeyPair(const uint8_t seed[32], uint8_t secret[32], uint8_t publicKey[32]) {
  uint8_t clamped[32];
  std::memcpy(clamped, seed, 32);
  clamped[0] &= 0xF8;
  clamped[31] = static_cast<uint8_t>((clamped[31] & 0x7F) | 0x40);
  montgomeryMultiply(publicKey, clamped, kBase);

  std::unique_ptr<BN_CTX, CtxFree> ctx(BN_CTX_new());
  Big l = order();
  Big a = bigFromLe(clamped, 32);
  OPENSSL_cleanse(clamped, sizeof clamped);
  if (!ctx || !l || !a || !BN_nnmod(a.get(), a.get(), l.get(), ctx.get())) return false;

  // Which of a and l - a the checker's even-root point needs shows in a test
  // signature; without v-coordinates that is the simplest test.
  const uint8_t probe[20] = {0x51, 0x67};
  uint8_t signature[68];
  for (int negate = 0; negate < 2; ++negate) {
    Big candidate(BN_dup(a.get()));
    if (!candidate) return false;
    if (negate && !BN_sub(candidate.get(), l.get(), a.get())) return false;
    if (!bigToLe32(candidate.get(), secret)) return false;
    if (legacySign(probe, secret, signature)) {
      uint8_t check[32];
      legacyPublicKey(secret, check);
      if (std::memcmp(check, publicKey, 32) == 0) return true;
    }
  }
  OPENSSL_cleanse(secret, 32);
  return false;
}

}  // namespace qpk
