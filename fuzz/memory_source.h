// A stream buffer over the fuzzer's bytes. A seekable one stands for a package
// file; an unseekable one for standard input, where the reader skips parts by
// reading them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <streambuf>

class MemorySource : public std::streambuf {
 public:
  MemorySource(const uint8_t* data, size_t size, bool seekable) : seekable_(seekable) {
    char* begin = const_cast<char*>(reinterpret_cast<const char*>(data));
    setg(begin, begin, begin + size);
  }

 protected:
  pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override {
    if (!seekable_) return pos_type(off_type(-1));
    off_type base = dir == std::ios_base::beg ? 0 : dir == std::ios_base::cur ? gptr() - eback() : egptr() - eback();
    off_type target = base + off;
    if (target < 0 || target > egptr() - eback()) return pos_type(off_type(-1));
    setg(eback(), eback() + target, egptr());
    return pos_type(target);
  }
  pos_type seekpos(pos_type pos, std::ios_base::openmode mode) override {
    return seekoff(off_type(pos), std::ios_base::beg, mode);
  }

 private:
  bool seekable_;
};
