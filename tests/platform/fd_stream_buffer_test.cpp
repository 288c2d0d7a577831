// The standard-input buffer: block reads, put-back across a refill, and
// seeking that answers -1 on a pipe without moving.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "platform/fd_stream_buffer.h"

namespace {

std::string pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + i / 251);
  return s;
}

// A file of n pattern bytes, open for reading at its start.
int patternFile(size_t n, std::string* data) {
  char path[] = "/tmp/fdbufXXXXXX";
  int fd = ::mkstemp(path);
  *data = pattern(n);
  EXPECT_EQ(::write(fd, data->data(), n), static_cast<ssize_t>(n));
  ::lseek(fd, 0, SEEK_SET);
  ::unlink(path);
  return fd;
}

TEST(FdStreamBuffer, PipeCannotSeekAndDoesNotMove) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::write(fds[1], "0123456789abc", 13), 13);
  ::close(fds[1]);
  FdStreamBuffer buffer(fds[0]);
  char got[10];
  EXPECT_EQ(buffer.sgetn(got, 10), 10);
  EXPECT_EQ(buffer.pubseekoff(5, std::ios_base::cur, std::ios_base::in), std::streampos(-1));
  EXPECT_EQ(buffer.pubseekoff(0, std::ios_base::cur, std::ios_base::in), std::streampos(-1));
  EXPECT_EQ(buffer.sgetn(got, 10), 3);  // nothing moved: the rest is "abc"
  EXPECT_EQ(std::string(got, 3), "abc");
  ::close(fds[0]);
}

TEST(FdStreamBuffer, PutBackWorksJustAfterARefill) {
  std::string data;
  int fd = patternFile(65536 + 100, &data);
  FdStreamBuffer buffer(fd);
  for (int i = 0; i < 65536; ++i) buffer.sbumpc();
  EXPECT_EQ(buffer.sbumpc(), static_cast<unsigned char>(data[65536]));  // refilled here
  EXPECT_NE(buffer.sungetc(), std::char_traits<char>::eof());
  EXPECT_NE(buffer.sungetc(), std::char_traits<char>::eof());
  EXPECT_EQ(buffer.sbumpc(), static_cast<unsigned char>(data[65535]));
  ::close(fd);
}

TEST(FdStreamBuffer, RegularFileSeeksWithinAndBeyondTheBlock) {
  std::string data;
  int fd = patternFile(300000, &data);
  FdStreamBuffer buffer(fd);
  buffer.sbumpc();
  EXPECT_EQ(buffer.pubseekoff(99, std::ios_base::cur, std::ios_base::in), std::streampos(100));
  EXPECT_EQ(buffer.sgetc(), static_cast<unsigned char>(data[100]));
  EXPECT_EQ(buffer.pubseekoff(200000, std::ios_base::cur, std::ios_base::in), std::streampos(200100));
  EXPECT_EQ(buffer.sgetc(), static_cast<unsigned char>(data[200100]));
  EXPECT_EQ(buffer.pubseekpos(7, std::ios_base::in), std::streampos(7));
  EXPECT_EQ(buffer.sgetc(), static_cast<unsigned char>(data[7]));
  ::close(fd);
}

}  // namespace
