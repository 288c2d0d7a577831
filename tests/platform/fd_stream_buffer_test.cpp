// The standard-input buffer: block reads, put-back across a refill, and
// seeking that answers -1 on a pipe without moving.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "platform/fd_stream_buffer.h"

namespace {

std::string pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + i / 251);
  return s;
}

TEST(FdStreamBuffer, PipeCannotSeekAndReadsEverything) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const std::string data = pattern(200000);
  std::thread writer([&] {
    size_t done = 0;
    while (done < data.size()) {
      ssize_t n = ::write(fds[1], data.data() + done, data.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    ::close(fds[1]);
  });
  FdStreamBuffer buffer(fds[0]);
  std::string got(10, '\0');
  EXPECT_EQ(buffer.sgetn(&got[0], 10), 10);
  EXPECT_EQ(buffer.pubseekoff(5, std::ios_base::cur, std::ios_base::in), std::streampos(-1));
  EXPECT_EQ(buffer.pubseekoff(0, std::ios_base::cur, std::ios_base::in), std::streampos(-1));
  // Nothing moved: the next byte is the eleventh.
  EXPECT_EQ(buffer.sgetc(), static_cast<unsigned char>(data[10]));
  std::string rest(data.size(), '\0');
  std::streamsize n = buffer.sgetn(&rest[0], static_cast<std::streamsize>(rest.size()));
  EXPECT_EQ(n, static_cast<std::streamsize>(data.size() - 10));
  rest.resize(static_cast<size_t>(n));
  EXPECT_EQ(got + rest, data);
  EXPECT_EQ(buffer.sgetc(), std::char_traits<char>::eof());
  writer.join();
  ::close(fds[0]);
}

TEST(FdStreamBuffer, PutBackWorksJustAfterARefill) {
  char path[] = "/tmp/fdbufXXXXXX";
  int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string data = pattern(65536 + 100);
  ASSERT_EQ(::write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
  ::lseek(fd, 0, SEEK_SET);
  FdStreamBuffer buffer(fd);
  for (int i = 0; i < 65536; ++i) buffer.sbumpc();
  EXPECT_EQ(buffer.sbumpc(), static_cast<unsigned char>(data[65536]));  // refilled here
  EXPECT_NE(buffer.sungetc(), std::char_traits<char>::eof());
  EXPECT_NE(buffer.sungetc(), std::char_traits<char>::eof());
  EXPECT_EQ(buffer.sbumpc(), static_cast<unsigned char>(data[65535]));
  ::close(fd);
  ::unlink(path);
}

TEST(FdStreamBuffer, RegularFileSeeksWithinAndBeyondTheBlock) {
  char path[] = "/tmp/fdbufXXXXXX";
  int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string data = pattern(300000);
  ASSERT_EQ(::write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
  ::lseek(fd, 0, SEEK_SET);
  FdStreamBuffer buffer(fd);
  buffer.sbumpc();
  EXPECT_EQ(buffer.pubseekoff(99, std::ios_base::cur, std::ios_base::in), std::streampos(100));
  EXPECT_EQ(buffer.sgetc(), static_cast<unsigned char>(data[100]));
  EXPECT_EQ(buffer.pubseekoff(200000, std::ios_base::cur, std::ios_base::in), std::streampos(200100));
  EXPECT_EQ(buffer.sgetc(), static_cast<unsigned char>(data[200100]));
  EXPECT_EQ(buffer.pubseekpos(7, std::ios_base::in), std::streampos(7));
  EXPECT_EQ(buffer.sgetc(), static_cast<unsigned char>(data[7]));
  ::close(fd);
  ::unlink(path);
}

}  // namespace
