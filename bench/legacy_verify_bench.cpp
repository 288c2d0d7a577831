// Cost of one legacy signature check (the two-scalar ladder dominates) and
// of one nonce ladder, as the signer and a router would pay them.
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "crypto/legacy_curve.h"
#include "crypto/legacy_signature.h"

namespace {
// Processor time, so that other work on the machine does not count.
double cpuMicros() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}
}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 2000;
  // A known-valid signature: the first case of the legacy vectors.
  static const uint8_t key[32] = {
      0xbe, 0x4e, 0x22, 0x13, 0xde, 0x84, 0x63, 0x8c, 0xc0, 0x74, 0x04, 0xf9, 0x26, 0x6e, 0x5a, 0x1e,
      0x2b, 0xc4, 0xdb, 0x2b, 0x2b, 0x8d, 0x95, 0x98, 0xb2, 0x72, 0x75, 0x71, 0x0e, 0x86, 0xb2, 0x73};
  static const uint8_t digest[20] = {0xc6, 0x45, 0xdd, 0xf9, 0x20, 0xc0, 0x4c, 0xa9, 0x22, 0x55,
                                     0xd7, 0x77, 0x23, 0xf5, 0xca, 0xc6, 0xbc, 0x58, 0x5c, 0x37};
  uint8_t signature[68] = {};
  static const uint8_t tail[48] = {
      0x5d, 0x70, 0x5e, 0x4c, 0xc0, 0xf4, 0x1d, 0xe5, 0x83, 0x1b, 0x05, 0x41, 0x1b, 0xe7, 0x70, 0xd8,
      0x14, 0x64, 0xd5, 0xf4, 0x9f, 0x9f, 0xea, 0xd4, 0x23, 0x90, 0xc0, 0x44, 0x17, 0xd6, 0x36, 0xa0,
      0x75, 0xe5, 0x2f, 0xbb, 0x40, 0x58, 0x7d, 0xa3, 0x05, 0x5d, 0x91, 0xc2, 0x14, 0x64, 0xcd, 0x01};
  std::memcpy(signature + 20, tail, 48);
  if (!verifyLegacySignature(digest, signature, key)) {
    std::fprintf(stderr, "legacy_verify_bench: the known signature does not verify\n");
    return 1;
  }
  double start = cpuMicros();
  int valid = 0;
  for (int i = 0; i < rounds; ++i) valid += verifyLegacySignature(digest, signature, key);
  double verifyUs = (cpuMicros() - start) / rounds;

  uint8_t u[32] = {9}, scalar[32];
  std::memset(scalar, 0x6B, 32);
  start = cpuMicros();
  for (int i = 0; i < rounds; ++i) montgomeryMultiply(u, scalar, u);
  double ladderUs = (cpuMicros() - start) / rounds;

  std::printf("legacy verification: %.1f us (%d of %d valid)\n", verifyUs, valid, rounds);
  std::printf("one-scalar ladder:   %.1f us\n", ladderUs);
  return valid == rounds ? 0 : 1;
}
