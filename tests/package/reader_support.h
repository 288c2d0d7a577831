// Helpers for the package reader and builder tests: signing keys, an
// independent walk over a built file, and a source that counts what it hands out.
#pragma once
#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "package/package_reader.h"
#include "platform/endian.h"
#include "qpk/package_builder.h"

namespace readertest {

inline const qpk::SigningKeys& keys() {
  static const qpk::SigningKeys k = qpk::developmentKeys(INSTALLER_SOURCE_DIR);
  return k;
}

inline std::string build(const qpk::PackageSpec& spec) {
  std::string file, error;
  EXPECT_TRUE(qpk::buildPackage(spec, keys(), &file, &error)) << error;
  return file;
}

inline std::string buildBundle(const qpk::BundleSpec& spec) {
  std::string file, error;
  EXPECT_TRUE(qpk::buildBundle(spec, keys(), &file, &error)) << error;
  return file;
}

// A part as found by walking the file independently of the reader.
struct Part {
  size_t offset;  // of the 6-byte part header
  uint16_t type;
  uint32_t length;
};

inline std::vector<Part> walk(const std::string& file) {
  std::vector<Part> parts;
  size_t at = 8;
  while (at + 6 <= file.size()) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(file.data()) + at;
    Part part{at, decodeFixed16(p), decodeFixed32(p + 2)};
    parts.push_back(part);
    at += 6 + static_cast<size_t>(part.length);
  }
  return parts;
}

// The signed message recomputed from the raw bytes: a SHA-1 (or SHA-256) of
// file[from, to), in a 32-byte buffer.
inline std::string digestOf(const std::string& file, size_t from, size_t to, bool sha256) {
  std::string out(32, '\0');
  const auto* p = reinterpret_cast<const unsigned char*>(file.data()) + from;
  if (sha256) {
    SHA256(p, to - from, reinterpret_cast<unsigned char*>(out.data()));
  } else {
    SHA1(p, to - from, reinterpret_cast<unsigned char*>(out.data()));
  }
  return out;
}

inline std::string digestText(const PackageReader& reader) {
  return std::string(reinterpret_cast<const char*>(reader.digestBuffer()), 32);
}

// A source over a string that counts the bytes it hands out and may refuse
// to seek, as a pipe does.
class CountingSource : public std::streambuf {
 public:
  explicit CountingSource(const std::string& data, bool seekable = true)
      : data_(data), seekable_(seekable) {}
  size_t delivered = 0;

 protected:
  int_type underflow() override {
    if (at_ >= data_.size()) return traits_type::eof();
    return traits_type::to_int_type(data_[at_]);
  }
  int_type uflow() override {
    if (at_ >= data_.size()) return traits_type::eof();
    ++delivered;
    return traits_type::to_int_type(data_[at_++]);
  }
  std::streamsize xsgetn(char* s, std::streamsize n) override {
    size_t k = std::min<size_t>(static_cast<size_t>(n), data_.size() - std::min(at_, data_.size()));
    std::memcpy(s, data_.data() + at_, k);
    at_ += k;
    delivered += k;
    return static_cast<std::streamsize>(k);
  }
  int_type pbackfail(int_type c) override {
    if (at_ == 0) return traits_type::eof();
    --at_;
    return traits_type::not_eof(c);
  }
  pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override {
    if (!seekable_) return pos_type(off_type(-1));
    off_type base = dir == std::ios_base::beg ? 0 : dir == std::ios_base::cur ? off_type(at_) : off_type(data_.size());
    if (base + off < 0) return pos_type(off_type(-1));
    at_ = static_cast<size_t>(base + off);
    return pos_type(off_type(at_));
  }

 private:
  std::string data_;
  bool seekable_;
  size_t at_ = 0;
};

inline void acceptAll(PackageReader& reader) {
  for (int32_t t : {18, 1, 24, 16, 2, 23, 3, 19, 17, 20, 21, 4, 9}) reader.accept(t);
}

}  // namespace readertest
