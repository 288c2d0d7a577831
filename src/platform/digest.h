// Stand-ins for the platform crypto library's digest classes, on libcrypto.
// final() yields the digest and leaves the object ready for a new message.
#pragma once
#include <cstddef>
#include <cstdint>

struct evp_md_ctx_st;

// Starts the crypto library once, before its first use.
void startCrypto();

class SHA1 {
 public:
  static constexpr size_t kSize = 20;
  SHA1();
  ~SHA1();
  SHA1(const SHA1&) = delete;
  SHA1& operator=(const SHA1&) = delete;
  void update(const void* data, size_t length);
  void final(uint8_t out[kSize]);

 private:
  evp_md_ctx_st* ctx_;
};

class SHA256 {
 public:
  static constexpr size_t kSize = 32;
  SHA256();
  ~SHA256();
  SHA256(const SHA256&) = delete;
  SHA256& operator=(const SHA256&) = delete;
  void update(const void* data, size_t length);
  void final(uint8_t out[kSize]);

 private:
  evp_md_ctx_st* ctx_;
};
