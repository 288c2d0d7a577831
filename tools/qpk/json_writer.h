// A tiny streaming JSON writer for the tool's --json output: one document,
// written as it is walked, so a payload of a million entries never sits in
// memory. It only writes; commas and closing brackets are its whole job.
#pragma once
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace qpk {

class JsonWriter {
 public:
  explicit JsonWriter(std::FILE* out) : out_(out) {}

  void beginObject() { open('{', '}'); }
  void beginArray() { open('[', ']'); }
  // Closes the innermost object or array; the outermost ends the line.
  void end() {
    std::fputc(closers_.back(), out_);
    closers_.pop_back();
    first_ = false;
    if (closers_.empty()) std::fputc('\n', out_);
  }

  // The name of the next value inside an object.
  JsonWriter& key(std::string_view name) {
    separate();
    quote(name);
    std::fputc(':', out_);
    afterKey_ = true;
    return *this;
  }

  // Bytes as Latin-1: printable ASCII as it is, every other byte as \u00XX,
  // so that any name or path a file holds is valid JSON and reads back.
  void string(std::string_view bytes) {
    separate();
    quote(bytes);
  }
  void number(uint64_t n) {
    separate();
    std::fprintf(out_, "%" PRIu64, n);
  }
  void signedNumber(int64_t n) {
    separate();
    std::fprintf(out_, "%" PRId64, n);
  }
  void boolean(bool b) {
    separate();
    std::fputs(b ? "true" : "false", out_);
  }
  void null() {
    separate();
    std::fputs("null", out_);
  }

 private:
  void open(char bracket, char closer) {
    separate();
    std::fputc(bracket, out_);
    closers_ += closer;
    first_ = true;
  }
  // A comma before every value but the first of its container; none
  // between a key and its value.
  void separate() {
    if (afterKey_) {
      afterKey_ = false;
      return;
    }
    if (!first_) std::fputc(',', out_);
    first_ = false;
  }
  void quote(std::string_view bytes) {
    std::fputc('"', out_);
    for (unsigned char c : bytes) {
      if (c == '"' || c == '\\') {
        std::fputc('\\', out_);
        std::fputc(c, out_);
      } else if (c >= 0x20 && c < 0x7F) {
        std::fputc(c, out_);
      } else {
        std::fprintf(out_, "\\u%04x", c);
      }
    }
    std::fputc('"', out_);
  }

  std::FILE* out_;
  std::string closers_;  // the closing bracket of every open container, innermost last
  bool first_ = true;    // no value yet in the innermost container
  bool afterKey_ = false;
};

}  // namespace qpk
