// An input stream buffer that inflates a zlib stream read from another
// stream buffer, with fixed 4 KiB buffers whatever the data's size.
#pragma once
#include <zlib.h>

#include <cstdint>
#include <streambuf>

class InflateBuffer : public std::streambuf {
 public:
  static constexpr size_t kBufferSize = 4096;
  static constexpr size_t kSkipChunk = 1024;

  // source is not owned and must outlive the buffer (the package reader's
  // part buffer, so compressed bytes are limited, digested and copied there).
  explicit InflateBuffer(std::streambuf* source);
  ~InflateBuffer() override;
  InflateBuffer(const InflateBuffer&) = delete;
  InflateBuffer& operator=(const InflateBuffer&) = delete;

  uint32_t totalOut() const { return totalOut_; }

 protected:
  int_type underflow() override;
  // Forward skips only: read and thrown away in 1 KiB chunks.
  pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode which) override;

 private:
  std::streambuf* source_;
  z_stream zs_;
  bool ready_ = false;   // inflateInit succeeded
  bool ended_ = false;   // end of the zlib stream, a zlib error, or no more input
  uint32_t totalOut_ = 0;
  char in_[kBufferSize];
  char out_[kBufferSize];
};
