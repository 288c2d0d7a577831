// An input stream buffer over a file descriptor, read with read(2) in large
// blocks. Standard input through std::cin's buffer goes byte by byte; this
// one does not. Seeking works where the descriptor can seek and answers -1
// on a pipe, so readers fall back to skipping by reading.
#pragma once
#include <streambuf>

class FdStreamBuffer : public std::streambuf {
 public:
  // Does not take ownership of fd.
  explicit FdStreamBuffer(int fd);
  ~FdStreamBuffer() override;
  FdStreamBuffer(const FdStreamBuffer&) = delete;
  FdStreamBuffer& operator=(const FdStreamBuffer&) = delete;

 protected:
  int_type underflow() override;
  std::streamsize xsgetn(char_type* out, std::streamsize n) override;
  pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                   std::ios_base::openmode which) override;
  pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

 private:
  // Bytes kept from the previous block so a put-back just after a refill works.
  static constexpr int kPutBack = 16;
  static constexpr int kBlock = 65536;

  // read(2) retried on EINTR; -1 on error, 0 at the end.
  long readSome(char* out, long n);

  int fd_;
  char* buffer_;  // owned; kPutBack + kBlock bytes
};
