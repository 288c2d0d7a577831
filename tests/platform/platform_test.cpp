// The stand-ins for the router's system and digest libraries, and the standard-input buffer.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include "platform/digest.h"
#include "platform/fd_stream_buffer.h"
#include "platform/system_info.h"
#include "support/vector_file.h"

namespace {

template <typename Digest>
std::string digestOf(Digest& digest, const std::string& data) {
  for (size_t i = 0; i < data.size(); i += 4093) digest.update(data.data() + i, std::min<size_t>(4093, data.size() - i));
  uint8_t out[Digest::kSize];
  digest.final(out);
  return toHex(out, sizeof out);
}

// Known answers fed in pieces of 4093 bytes; a digest starts afresh after final.
TEST(Digest, KnownAnswersInPiecesAndReuseAfterFinal) {
  SHA1 sha1;
  EXPECT_EQ("a9993e364706816aba3e25717850c26c9cd0d89d", digestOf(sha1, "abc"));
  EXPECT_EQ("da39a3ee5e6b4b0d3255bfef95601890afd80709", digestOf(sha1, ""));
  SHA256 sha256;
  EXPECT_EQ("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0",
            digestOf(sha256, std::string(1000000, 'a')));
}

// Only a plain decimal that fits 32 bits sets a minimum; any value but "0" flags.
TEST(SystemInfo, MinimumVersionAndFlaggedStateFromTheEnvironment) {
  const std::pair<const char*, Version> minimums[] = {{nullptr, 0}, {"4294967295", 0xFFFFFFFFu}, {"107", 107}, {"", 0},
                                                      {"6.46", 0},  {"-1", 0}, {"12x", 0}, {"4294967296", 0}};
  for (const auto& [text, expected] : minimums) {
    text ? setenv("minversion", text, 1) : unsetenv("minversion");
    EXPECT_EQ(expected, getMinTarnwickVersion()) << (text ? text : "unset");
  }
  const std::pair<const char*, int> flags[] = {{nullptr, 0}, {"0", 0}, {"", 1}, {"00", 1}};
  for (const auto& [text, expected] : flags) {
    text ? setenv("flagged", text, 1) : unsetenv("flagged");
    EXPECT_EQ(expected, nv::tarnwickMode().bytes[1]) << (text ? text : "unset");
  }
  unsetenv("minversion");
  unsetenv("flagged");
}

// Standard input from a file through a small block: reads, put-back across a refill, seeks in and past it.
TEST(FdStreamBuffer, RegularFileReadsPutsBackAndSeeks) {
  std::string data(1000, '\0'), got(1000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 251);
  char path[] = "/tmp/fdbufXXXXXX";
  const int fd = ::mkstemp(path);
  ::unlink(path);
  ASSERT_EQ(1000, ::pwrite(fd, data.data(), data.size(), 0));
  FdStreamBuffer buffer(fd, 64);
  auto at = [&](size_t i) { return static_cast<unsigned char>(data[i]); };
  EXPECT_EQ(10, buffer.sgetn(got.data(), 10));
  EXPECT_EQ(200, buffer.sgetn(got.data() + 10, 200));  // the rest of the block, then straight
  EXPECT_EQ(data.substr(0, 210), got.substr(0, 210));
  EXPECT_EQ(63, buffer.sgetn(got.data(), 63));
  EXPECT_EQ(at(273), buffer.sbumpc());  // refilled here
  EXPECT_EQ(at(273), buffer.sungetc());
  EXPECT_EQ(at(272), buffer.sungetc());
  EXPECT_EQ(std::streampos(279), buffer.pubseekoff(7, std::ios_base::cur, std::ios_base::in));
  EXPECT_EQ(at(279), buffer.sgetc());
  EXPECT_EQ(std::streampos(338), buffer.pubseekoff(59, std::ios_base::cur, std::ios_base::in));  // in the block
  EXPECT_EQ(at(337), buffer.sungetc());  // still held for put-back
  EXPECT_EQ(std::streampos(779), buffer.pubseekoff(442, std::ios_base::cur, std::ios_base::in));
  EXPECT_EQ(at(779), buffer.sgetc());
  EXPECT_EQ(std::streampos(7), buffer.pubseekpos(7, std::ios_base::in));
  EXPECT_EQ(993, buffer.sgetn(got.data(), 1000));
  EXPECT_EQ(data.substr(7), got.substr(0, 993));
  ::close(fd);
}

}  // namespace
