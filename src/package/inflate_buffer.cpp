#include "package/inflate_buffer.h"

#include <cstring>

InflateBuffer::InflateBuffer(std::streambuf* source) : source_(source) {
  std::memset(&zs_, 0, sizeof zs_);
  // The macro passes this zlib's own version and state size, which the
  // library checks against what it was built with.
  ready_ = inflateInit(&zs_) == Z_OK;
  ended_ = !ready_;
  setg(out_, out_, out_);
}

InflateBuffer::~InflateBuffer() {
  if (ready_) inflateEnd(&zs_);
}

InflateBuffer::int_type InflateBuffer::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  // Inflating may consume input without producing output (headers, block
  // boundaries), so go on until bytes come out or the data ends.
  while (!ended_) {
    if (zs_.avail_in == 0) {
      std::streamsize n = source_->sgetn(in_, kBufferSize);
      if (n <= 0) {
        ended_ = true;
        break;
      }
      zs_.next_in = reinterpret_cast<Bytef*>(in_);
      zs_.avail_in = static_cast<uInt>(n);
    }
    zs_.next_out = reinterpret_cast<Bytef*>(out_);
    zs_.avail_out = kBufferSize;
    int result = inflate(&zs_, Z_PARTIAL_FLUSH);
    if (result == Z_STREAM_END) {
      ended_ = true;
    } else if (result != Z_OK) {
      // Any zlib error reads as the end of the data; the caller tells a clean
      // end from a cut one by where in an entry it happens.
      ended_ = true;
      break;
    }
    const size_t produced = kBufferSize - zs_.avail_out;
    if (produced > 0) {
      totalOut_ += static_cast<uint32_t>(produced);
      setg(out_, out_, out_ + produced);
      return traits_type::to_int_type(*gptr());
    }
  }
  return traits_type::eof();
}

InflateBuffer::pos_type InflateBuffer::seekoff(off_type off, std::ios_base::seekdir dir,
                                               std::ios_base::openmode which) {
  const pos_type failed = pos_type(off_type(-1));
  if (dir != std::ios_base::cur || !(which & std::ios_base::in) || off < 0) return failed;
  char scratch[kSkipChunk];
  off_type left = off;
  while (left > 0) {
    const std::streamsize chunk = left < static_cast<off_type>(kSkipChunk) ? left : kSkipChunk;
    if (sgetn(scratch, chunk) != chunk) return failed;
    left -= chunk;
  }
  return pos_type(off_type(totalOut_) - (egptr() - gptr()));
}
