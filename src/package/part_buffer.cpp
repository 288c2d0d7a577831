#include "package/part_buffer.h"

#include <algorithm>
#include <cstring>

#include "package/package_reader.h"
#include "platform/endian.h"

PartBuffer::PartBuffer(std::streambuf* source, bool hashing, std::streambuf* sink)
    : source_(source), sink_(sink), hashing_(hashing) {}

bool PartBuffer::readFileHeader() {
  uint8_t header[8];
  std::streamsize got = source_->sgetn(reinterpret_cast<char*>(header), 8);
  if (got > 0 && sink_ != nullptr) sink_->sputn(reinterpret_cast<const char*>(header), got);
  if (got != 8) {
    magic = 0xFFFFFFFFu;
    fileSize = 0;
    return false;
  }
  magic = decodeFixed32(header);
  fileSize = decodeFixed32(header + 4) + 8;
  partStart = 8;
  return magic == PackageMagic || magic == UnrecordedMagic;
}

void PartBuffer::feed(const void* bytes, size_t n) {
  if (sha256Running_) {
    sha256_.update(bytes, n);
  } else {
    sha1_.update(bytes, n);
  }
}

void PartBuffer::taken(const char* bytes, size_t n) {
  if (putBack_ > 0) {
    size_t again = std::min<size_t>(n, putBack_);
    putBack_ -= static_cast<uint32_t>(again);
    bytes += again;
    n -= again;
  }
  if (n == 0) return;
  if (hashing_) feed(bytes, n);
  if (sink_ != nullptr) sink_->sputn(bytes, static_cast<std::streamsize>(n));
}

void PartBuffer::closeDigest() {
  std::memset(digest_, 0, sizeof digest_);
  if (sha256Running_) {
    sha256_.final(digest_);
  } else {
    sha1_.final(digest_);
  }
}

uint32_t PartBuffer::skipByReading(uint32_t n) {
  char scratch[kSkipChunk];
  uint32_t done = 0;
  while (done < n) {
    uint32_t chunk = std::min(n - done, kSkipChunk);
    uint32_t got = static_cast<uint32_t>(xsgetn(scratch, chunk));
    done += got;
    if (got < chunk) break;
  }
  return done;
}

// Skips n bytes of the current part: by seeking when nothing needs the bytes,
// so that loading stored images never reads their payloads.
bool PartBuffer::skip(uint32_t n) {
  if (n == 0) return true;
  if (!hashing_ && sink_ == nullptr) {
    if (source_->pubseekoff(n, std::ios_base::cur, std::ios_base::in) != pos_type(off_type(-1))) {
      remaining -= n;
      return true;
    }
  }
  return skipByReading(n) == n;
}

int32_t PartBuffer::advance() {
  for (;;) {
    if (!skip(remaining)) {
      type = -1;
      return -1;
    }
    partStart += partLength;
    uint8_t header[6];
    if (source_->sgetn(reinterpret_cast<char*>(header), 6) != 6) {
      type = -1;
      partLength = remaining = 0;
      return -1;
    }
    if (sink_ != nullptr) sink_->sputn(reinterpret_cast<const char*>(header), 6);
    uint16_t partType = decodeFixed16(header);
    if (hashing_) {
      if (partType == PartDigestSwitch) {
        sha256Running_ = true;
      } else if (partType == PartHeader) {
        closeDigest();
      }
      feed(header, 6);
    }
    partLength = remaining = decodeFixed32(header + 2);
    partStart += 6;
    type = partType;
    if (acceptEvery || std::find(accepted.begin(), accepted.end(), type) != accepted.end()) return type;
  }
}

bool PartBuffer::readUndigested(uint8_t* out, uint32_t n) {
  if (n > remaining) return false;
  std::streamsize got = source_->sgetn(reinterpret_cast<char*>(out), n);
  if (got <= 0) return n == 0;
  remaining -= static_cast<uint32_t>(got);
  // Bytes put back earlier were copied already; only the rest go to the sink.
  const char* copy = reinterpret_cast<const char*>(out);
  std::streamsize fresh = got;
  if (putBack_ > 0) {
    std::streamsize again = std::min<std::streamsize>(got, putBack_);
    putBack_ -= static_cast<uint32_t>(again);
    copy += again;
    fresh -= again;
  }
  if (sink_ != nullptr && fresh > 0) sink_->sputn(copy, fresh);
  return got == static_cast<std::streamsize>(n);
}

std::streamsize PartBuffer::showmanyc() {
  if (remaining == 0) return -1;
  std::streamsize available = source_->in_avail();
  if (available < 0) return -1;
  // Compared as unsigned 64-bit: on 32-bit systems std::streamsize is 32
  // bits and a part length above 2 GiB would turn negative.
  return static_cast<std::streamsize>(std::min<uint64_t>(static_cast<uint64_t>(available), remaining));
}

PartBuffer::int_type PartBuffer::underflow() {
  if (remaining == 0) return traits_type::eof();
  return source_->sgetc();
}

PartBuffer::int_type PartBuffer::uflow() {
  if (remaining == 0) return traits_type::eof();
  int_type c = source_->sbumpc();
  if (traits_type::eq_int_type(c, traits_type::eof())) return c;
  --remaining;
  char byte = traits_type::to_char_type(c);
  taken(&byte, 1);
  return c;
}

std::streamsize PartBuffer::xsgetn(char* s, std::streamsize n) {
  if (n <= 0) return 0;
  std::streamsize want = static_cast<std::streamsize>(std::min<uint64_t>(static_cast<uint64_t>(n), remaining));
  if (want == 0) return 0;
  std::streamsize got = source_->sgetn(s, want);
  if (got <= 0) return 0;
  remaining -= static_cast<uint32_t>(got);
  taken(s, static_cast<size_t>(got));
  return got;
}

PartBuffer::int_type PartBuffer::pbackfail(int_type c) {
  if (remaining >= partLength) return traits_type::eof();
  int_type r = traits_type::eq_int_type(c, traits_type::eof())
                   ? source_->sungetc()
                   : source_->sputbackc(traits_type::to_char_type(c));
  if (traits_type::eq_int_type(r, traits_type::eof())) return r;
  ++remaining;
  if (hashing_ || sink_ != nullptr) ++putBack_;
  return traits_type::not_eof(r);
}

PartBuffer::pos_type PartBuffer::seekoff(off_type off, std::ios_base::seekdir dir,
                                         std::ios_base::openmode which) {
  const pos_type failed(off_type(-1));
  if (!(which & std::ios_base::in)) return failed;
  int64_t current = position();
  int64_t target;
  if (dir == std::ios_base::cur) {
    target = current + off;
  } else if (dir == std::ios_base::beg) {
    target = off;
  } else {
    target = static_cast<int64_t>(partLength) + off;
  }
  if (target < 0 || target > static_cast<int64_t>(partLength)) return failed;
  if (target == current) return pos_type(off_type(target));
  if (hashing_ || sink_ != nullptr) {
    // Every byte must pass the digest and the sink once, in order.
    if (target < current) return failed;
    uint32_t n = static_cast<uint32_t>(target - current);
    if (skipByReading(n) != n) return failed;
    return pos_type(off_type(target));
  }
  if (source_->pubseekoff(target - current, std::ios_base::cur, std::ios_base::in) != failed) {
    remaining = partLength - static_cast<uint32_t>(target);
    return pos_type(off_type(target));
  }
  if (target < current) return failed;
  uint32_t n = static_cast<uint32_t>(target - current);
  if (skipByReading(n) != n) return failed;
  return pos_type(off_type(target));
}

PartBuffer::pos_type PartBuffer::seekpos(pos_type pos, std::ios_base::openmode which) {
  return seekoff(off_type(pos), std::ios_base::beg, which);
}
