#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "platform/digest.h"
#include "platform/eddsa.h"
#include "platform/system_info.h"

namespace {

std::string hex(const uint8_t* bytes, size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

std::vector<uint8_t> unhex(const std::string& text) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < text.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
  return bytes;
}

template <typename Digest>
std::string digestOf(Digest& digest, const std::string& data) {
  digest.update(data.data(), data.size());
  uint8_t out[Digest::kSize];
  digest.final(out);
  return hex(out, sizeof(out));
}

asn1::blob blobOf(const std::vector<uint8_t>& bytes) { return {bytes.data(), bytes.data() + bytes.size()}; }

}  // namespace

TEST(Digest, KnownAnswersAndReuseAfterFinal) {
  SHA1 sha1;
  EXPECT_EQ("a9993e364706816aba3e25717850c26c9cd0d89d", digestOf(sha1, "abc"));
  EXPECT_EQ("da39a3ee5e6b4b0d3255bfef95601890afd80709", digestOf(sha1, ""));  // fresh after final
  SHA256 sha256;
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", digestOf(sha256, "abc"));
  EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", digestOf(sha256, ""));
  // Fed in pieces, the digest is that of the whole.
  std::string million(1000000, 'a');
  for (size_t i = 0; i < million.size(); i += 4093) sha256.update(million.data() + i, std::min<size_t>(4093, million.size() - i));
  uint8_t out[SHA256::kSize];
  sha256.final(out);
  EXPECT_EQ("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0", hex(out, sizeof(out)));
}

TEST(Eddsa, Vectors) {
  std::ifstream in(INSTALLER_SOURCE_DIR "/tests/data/ed25519.json");
  std::stringstream buffer;
  buffer << in.rdbuf();
  std::string json = buffer.str();
  std::smatch match;
  ASSERT_TRUE(std::regex_search(json, match, std::regex("\"public_hex\": \"([0-9a-f]{64})\"")));
  std::vector<uint8_t> key = unhex(match[1]);
  std::regex caseRe(
      "\"message_hex\": \"([0-9a-f]*)\",\\s*\"signature_hex\": \"([0-9a-f]*)\",\\s*\"valid\": (true|false)");
  int cases = 0, valid = 0;
  for (auto it = std::sregex_iterator(json.begin(), json.end(), caseRe); it != std::sregex_iterator(); ++it) {
    std::vector<uint8_t> message = unhex((*it)[1]), signature = unhex((*it)[2]);
    bool expected = (*it)[3] == "true";
    EXPECT_EQ(expected, eddsa::verify(blobOf(key), blobOf(message), blobOf(signature))) << "case " << cases;
    ++cases;
    valid += expected;
  }
  EXPECT_EQ(8, cases);
  EXPECT_EQ(2, valid);
}

TEST(Eddsa, WrongSizesAreRejected) {
  std::vector<uint8_t> key(32, 1), message(32, 2), signature(64, 3);
  std::vector<uint8_t> shortKey(31, 1), longSignature(65, 3), shortSignature(63, 3);
  EXPECT_FALSE(eddsa::verify(blobOf(shortKey), blobOf(message), blobOf(signature)));
  EXPECT_FALSE(eddsa::verify(blobOf(key), blobOf(message), blobOf(longSignature)));
  EXPECT_FALSE(eddsa::verify(blobOf(key), blobOf(message), blobOf(shortSignature)));
  EXPECT_FALSE(eddsa::verify({nullptr, nullptr}, blobOf(message), blobOf(signature)));
}

TEST(SystemInfo, MinimumVersionFromTheEnvironment) {
  unsetenv("minversion");
  EXPECT_EQ(0u, getMinTarnwickVersion());
  setenv("minversion", "103704073", 1);
  EXPECT_EQ(103704073u, getMinTarnwickVersion());
  setenv("minversion", "4294967295", 1);
  EXPECT_EQ(0xFFFFFFFFu, getMinTarnwickVersion());
  for (const char* bad : {"", "6.46", "-1", "12x", "4294967296", "0x10"}) {
    setenv("minversion", bad, 1);
    EXPECT_EQ(0u, getMinTarnwickVersion()) << bad;
  }
  unsetenv("minversion");
}

TEST(SystemInfo, FlaggedStateFromTheEnvironment) {
  unsetenv("flagged");
  EXPECT_EQ(0, nv::tarnwickMode().bytes[1]);
  setenv("flagged", "0", 1);
  EXPECT_EQ(0, nv::tarnwickMode().bytes[1]);
  for (const char* on : {"1", "", "yes", "00"}) {
    setenv("flagged", on, 1);
    EXPECT_NE(0, nv::tarnwickMode().bytes[1]) << on;
  }
  unsetenv("flagged");
  EXPECT_EQ("6.46.9", version2string(103704073));
}
