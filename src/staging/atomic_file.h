// The stream openAtomic hands out: written straight through the descriptor of
// the temporary it created, never through a second open. Writes of 16 KiB or
// more go straight to the descriptor; smaller ones are gathered first.
#pragma once
#include <cstdint>
#include <ostream>
#include <streambuf>
#include <string>

struct StagedChanges;

class AtomicFile : public std::ostream {
 public:
  AtomicFile();
  ~AtomicFile() override;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  bool is_open() const { return buffer_.fd >= 0; }
  // Writes what is buffered and closes the descriptor. A failed write or
  // close leaves the stream failed, with errno as that call left it. The
  // bytes written are noted in the staged change, for the disk-space estimate.
  void close();

  // Used by openAtomic. The set outlives the stream.
  void attach(int fd, StagedChanges* set, const std::string& target, const std::string& temporary);

 private:
  class Buffer : public std::streambuf {
   public:
    static constexpr size_t kSize = 16384;
    int fd = -1;
    uint64_t written = 0;

    bool flushAll();

   protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* data, std::streamsize count) override;
    int sync() override;

   private:
    bool writeAll(const char* data, size_t size);
    char space_[kSize];
  };

  Buffer buffer_;
  StagedChanges* set_ = nullptr;  // not owned
  std::string target_, temporary_;
};
