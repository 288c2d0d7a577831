#include "staging/atomic_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "staging/staged_changes.h"

bool AtomicFile::Buffer::writeAll(const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;  // a short write is a full disk
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
    written += static_cast<uint64_t>(n);
  }
  return true;
}

bool AtomicFile::Buffer::flushAll() {
  if (pbase() == pptr()) return true;
  const bool ok = writeAll(pbase(), static_cast<size_t>(pptr() - pbase()));
  setp(space_, space_ + kSize);
  return ok;
}

AtomicFile::Buffer::int_type AtomicFile::Buffer::overflow(int_type c) {
  if (fd < 0) return traits_type::eof();
  if (pbase() == nullptr) {
    setp(space_, space_ + kSize);
  } else if (!flushAll()) {
    return traits_type::eof();
  }
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

// Blocks at least as large as the buffer go straight to the descriptor.
std::streamsize AtomicFile::Buffer::xsputn(const char* data, std::streamsize count) {
  if (fd < 0) return 0;
  if (count >= static_cast<std::streamsize>(kSize)) {
    if (!flushAll() || !writeAll(data, static_cast<size_t>(count))) return 0;
    return count;
  }
  return std::streambuf::xsputn(data, count);
}

int AtomicFile::Buffer::sync() { return fd >= 0 && flushAll() ? 0 : -1; }

AtomicFile::AtomicFile() : std::ostream(&buffer_) {}

AtomicFile::~AtomicFile() { close(); }

void AtomicFile::attach(int fd, StagedChanges* set, const std::string& target, const std::string& temporary) {
  close();
  clear();
  buffer_.fd = fd;
  buffer_.written = 0;
  set_ = set;
  target_ = target;
  temporary_ = temporary;
}

void AtomicFile::close() {
  if (buffer_.fd < 0) return;
  bool ok = buffer_.flushAll();
  int error = errno;
  if (::close(buffer_.fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  buffer_.fd = -1;
  // The staged change still names this temporary unless a later staging of
  // the target replaced it.
  auto change = set_->find(target_);
  if (change != set_->end() && change->second.data == temporary_) change->second.size = buffer_.written;
  if (!ok) {
    setstate(std::ios::badbit);
    errno = error;
  }
}
