// An input stream buffer over a file descriptor, read with read(2) in blocks
// of a size the user picks. Standard input through std::cin's buffer goes
// byte by byte; this one does not. Seeking works where the descriptor can
// seek and answers -1 on a pipe, so readers fall back to skipping by reading.
// A read error (a folder, a worn flash) reads as the end of the data: unlike
// the standard file buffer, it never throws.
#pragma once
#include <streambuf>
#include <string>

class FdStreamBuffer : public std::streambuf {
 public:
  // Does not take ownership of fd.
  explicit FdStreamBuffer(int fd, long blockSize = 65536);
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

  // read(2) retried on EINTR; -1 on error, 0 at the end.
  long readSome(char* out, long n);

  int fd_;
  const long block_;
  char* buffer_;  // owned; kPutBack + block_ bytes
};

// A file opened for reading through an FdStreamBuffer, closed at the end.
class InputFile {
 public:
  InputFile(const std::string& path, long blockSize);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  std::streambuf* buffer() { return &buffer_; }

 private:
  int fd_;
  FdStreamBuffer buffer_;
};
