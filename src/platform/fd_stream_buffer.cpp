#include "platform/fd_stream_buffer.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <unistd.h>

FdStreamBuffer::FdStreamBuffer(int fd, long blockSize)
    : fd_(fd), block_(blockSize), buffer_(new char[kPutBack + blockSize]) {
  char* start = buffer_ + kPutBack;
  setg(start, start, start);
}

FdStreamBuffer::~FdStreamBuffer() { delete[] buffer_; }

long FdStreamBuffer::readSome(char* out, long n) {
  for (;;) {
    ssize_t got = ::read(fd_, out, static_cast<size_t>(n));
    if (got >= 0) return static_cast<long>(got);
    if (errno != EINTR) return -1;
  }
}

FdStreamBuffer::int_type FdStreamBuffer::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  // Keep the tail of the old block in front of the new one for put-back.
  long keep = static_cast<long>(gptr() - eback());
  if (keep > kPutBack) keep = kPutBack;
  char* start = buffer_ + kPutBack;
  std::memmove(start - keep, gptr() - keep, static_cast<size_t>(keep));
  long got = readSome(start, block_);
  if (got <= 0) {
    setg(start - keep, start, start);
    return traits_type::eof();
  }
  setg(start - keep, start, start + got);
  return traits_type::to_int_type(*gptr());
}

std::streamsize FdStreamBuffer::xsgetn(char_type* out, std::streamsize n) {
  std::streamsize done = 0;
  while (done < n) {
    std::streamsize buffered = egptr() - gptr();
    if (buffered > 0) {
      std::streamsize take = n - done < buffered ? n - done : buffered;
      std::memcpy(out + done, gptr(), static_cast<size_t>(take));
      gbump(static_cast<int>(take));
      done += take;
      continue;
    }
    if (n - done >= block_) {
      // Large reads go straight into the caller's memory; the put-back
      // area then holds nothing valid, so it is emptied.
      long got = readSome(out + done, static_cast<long>(n - done));
      if (got <= 0) break;
      done += got;
      char* start = buffer_ + kPutBack;
      setg(start, start, start);
      continue;
    }
    if (traits_type::eq_int_type(underflow(), traits_type::eof())) break;
  }
  return done;
}

FdStreamBuffer::pos_type FdStreamBuffer::seekoff(off_type offset, std::ios_base::seekdir direction,
                                                 std::ios_base::openmode which) {
  if (!(which & std::ios_base::in)) return pos_type(off_type(-1));
  // A pipe cannot seek at all: answer -1 before anything moves.
  off_type here = ::lseek(fd_, 0, SEEK_CUR);
  if (here < 0) return pos_type(off_type(-1));
  off_type buffered = egptr() - gptr();
  if (direction == std::ios_base::cur) {
    // Within the block at hand no system call is needed.
    if (offset >= 0 && offset <= buffered) {
      gbump(static_cast<int>(offset));
      return pos_type(here - (egptr() - gptr()));
    }
    offset -= buffered;
  }
  off_type result = ::lseek(fd_, offset, direction == std::ios_base::beg   ? SEEK_SET
                                         : direction == std::ios_base::end ? SEEK_END
                                                                           : SEEK_CUR);
  if (result < 0) return pos_type(off_type(-1));
  char* start = buffer_ + kPutBack;
  setg(start, start, start);
  return pos_type(result);
}

FdStreamBuffer::pos_type FdStreamBuffer::seekpos(pos_type position, std::ios_base::openmode which) {
  return seekoff(off_type(position), std::ios_base::beg, which);
}

InputFile::InputFile(const std::string& path, long blockSize)
    : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)), buffer_(fd_, blockSize) {}

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}
