// The stream buffer under PackageReader: hands out the bytes of the current
// part only, feeds every byte it takes to the running digest and copies it to
// the copy sink. It also keeps the walk's state (accepted types, current part,
// file header values), so the reader is a thin std::istream over it.
#pragma once
#include <cstdint>
#include <streambuf>
#include <vector>

#include "platform/digest.h"

class PartBuffer : public std::streambuf {
 public:
  // Skips that have to read do so in chunks of this size.
  static constexpr uint32_t kSkipChunk = 16384;

  // source and sink are not owned; sink may be null.
  PartBuffer(std::streambuf* source, bool hashing, std::streambuf* sink);

  // Reads the 8-byte file header. False when it is cut short or the magic is
  // not a package magic.
  bool readFileHeader();
  // Skips what is left of the current part and reads the next part header,
  // skipping unaccepted parts. The type, or -1 at the end or on a failure.
  int32_t advance();

  // Skips n bytes of the current part by reading, so they are digested and
  // copied. Returns the bytes consumed.
  uint32_t skipByReading(uint32_t n);
  // n bytes straight from the source, copied to the sink but not digested.
  bool readUndigested(uint8_t* out, uint32_t n);
  void closeDigest();

  std::vector<int32_t> accepted;
  bool acceptEvery = false;  // every part stops the walk, whatever its type
  int32_t type = -1;
  uint32_t magic = 0xFFFFFFFFu;
  uint32_t fileSize = 0;
  uint32_t partStart = 0;
  uint32_t partLength = 0;
  uint32_t remaining = 0;

  std::streambuf* source() const { return source_; }
  bool hashing() const { return hashing_; }
  bool sha256Running() const { return sha256Running_; }
  const uint8_t* digestBuffer() const { return digest_; }
  // Position within the current part.
  uint32_t position() const { return partLength - remaining; }

 protected:
  std::streamsize showmanyc() override;
  int_type underflow() override;
  int_type uflow() override;
  std::streamsize xsgetn(char* s, std::streamsize n) override;
  int_type pbackfail(int_type c) override;
  pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode which) override;
  pos_type seekpos(pos_type pos, std::ios_base::openmode which) override;

 private:
  // Digests and copies bytes just taken from the source, except those that
  // are re-reads of put-back bytes.
  void taken(const char* bytes, size_t n);
  void feed(const void* bytes, size_t n);
  bool skip(uint32_t n);

  std::streambuf* source_;
  std::streambuf* sink_;
  const bool hashing_;
  SHA1 sha1_;
  SHA256 sha256_;
  bool sha256Running_ = false;
  uint8_t digest_[32] = {};
  uint32_t putBack_ = 0;
};
