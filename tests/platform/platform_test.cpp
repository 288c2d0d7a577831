// The stand-ins for the router's system and crypto libraries. The EdDSA
// known answers are checked with the package signatures.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/digest.h"
#include "platform/eddsa.h"
#include "platform/system_info.h"

namespace {

template <typename Digest>
std::string digestOf(Digest& digest, const std::string& data, size_t piece = 4093) {
  for (size_t i = 0; i < data.size(); i += piece) digest.update(data.data() + i, std::min(piece, data.size() - i));
  uint8_t out[Digest::kSize];
  digest.final(out);
  std::string text;
  for (uint8_t b : out) text += "0123456789abcdef"[b >> 4], text += "0123456789abcdef"[b & 15];
  return text;
}

TEST(Digest, KnownAnswersInPiecesAndReuseAfterFinal) {
  SHA1 sha1;
  EXPECT_EQ("a9993e364706816aba3e25717850c26c9cd0d89d", digestOf(sha1, "abc"));
  EXPECT_EQ("da39a3ee5e6b4b0d3255bfef95601890afd80709", digestOf(sha1, ""));  // fresh after final
  SHA256 sha256;
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", digestOf(sha256, "abc"));
  EXPECT_EQ("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0",
            digestOf(sha256, std::string(1000000, 'a')));
}

TEST(Eddsa, WrongSizesAreRejected) {
  std::vector<uint8_t> key(32, 1), message(32, 2), signature(64, 3), shortKey(31, 1), longSignature(65, 3);
  auto blob = [](const std::vector<uint8_t>& b) { return asn1::blob{b.data(), b.data() + b.size()}; };
  EXPECT_FALSE(eddsa::verify(blob(shortKey), blob(message), blob(signature)));
  EXPECT_FALSE(eddsa::verify(blob(key), blob(message), blob(longSignature)));
  EXPECT_FALSE(eddsa::verify({nullptr, nullptr}, blob(message), blob(signature)));
}

TEST(SystemInfo, MinimumVersionAndFlaggedStateFromTheEnvironment) {
  unsetenv("minversion");
  EXPECT_EQ(0u, getMinTarnwickVersion());
  setenv("minversion", "4294967295", 1);
  EXPECT_EQ(0xFFFFFFFFu, getMinTarnwickVersion());
  for (const char* bad : {"", "6.46", "-1", "12x", "4294967296", "0x10"}) {
    setenv("minversion", bad, 1);
    EXPECT_EQ(0u, getMinTarnwickVersion()) << bad;
  }
  unsetenv("minversion");
  unsetenv("flagged");
  EXPECT_EQ(0, nv::tarnwickMode().bytes[1]);
  setenv("flagged", "0", 1);
  EXPECT_EQ(0, nv::tarnwickMode().bytes[1]);
  for (const char* on : {"1", "", "yes", "00"}) {
    setenv("flagged", on, 1);
    EXPECT_NE(0, nv::tarnwickMode().bytes[1]) << on;
  }
  unsetenv("flagged");
}

}  // namespace
