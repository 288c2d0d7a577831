// The record's format: a heading line, then one entry per change, each a line
// "<kind> <target length> <data length>" followed by the two strings and a
// newline, then "end" and the SHA-256 of everything before it. Lengths, not
// separators, delimit the paths, so no path can break the record; the sum
// tells a record cut short by a power cut from a whole one.
#include "staging/commit_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/digest.h"
#include "staging/atomic_writer.h"
#include "staging/temporary_files.h"

namespace {

constexpr const char* kHeading = "installer commit record 1";
// Far more than any staged set needs; a larger file is not one of ours.
constexpr off_t kMaxRecordSize = 64 << 20;

std::string hexDigest(const std::string& text) {
  SHA256 digest;
  digest.update(text.data(), text.size());
  uint8_t sum[SHA256::kSize];
  digest.final(sum);
  std::string hex;
  for (uint8_t b : sum) hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
  return hex;
}

bool writeAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

void syncFolder(const std::string& folder) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

bool readFile(const char* path, std::string* out) {
  int fd = open(path, O_RDONLY);
  if (fd < 0) return false;
  struct stat status;
  bool ok = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size <= kMaxRecordSize;
  if (ok) {
    out->resize(static_cast<size_t>(status.st_size));
    size_t done = 0;
    while (ok && done < out->size()) {
      ssize_t n = read(fd, out->data() + done, out->size() - done);
      if (n < 0 && errno == EINTR) continue;
      ok = n > 0;
      if (ok) done += static_cast<size_t>(n);
    }
  }
  close(fd);
  return ok;
}

// Parses "<a> <b> <c>\n" of unsigned numbers at *pos.
bool readNumbers(const std::string& text, size_t* pos, unsigned long long* a, unsigned long long* b,
                 unsigned long long* c) {
  const size_t end = text.find('\n', *pos);
  if (end == std::string::npos || end - *pos > 64) return false;
  const std::string line = text.substr(*pos, end - *pos);
  int used = 0;
  if (std::sscanf(line.c_str(), "%llu %llu %llu%n", a, b, c, &used) != 3 ||
      used != static_cast<int>(line.size())) {
    return false;
  }
  *pos = end + 1;
  return true;
}

// Writes the record through a small buffer, summing as it goes: a record of
// thousands of changes never sits in memory whole.
class RecordWriter {
 public:
  explicit RecordWriter(int fd) : fd_(fd) {}
  void add(const std::string& text) {
    digest_.update(text.data(), text.size());
    buffer_ += text;
    if (buffer_.size() >= kFlushAt) flush();
  }
  bool finish() {
    uint8_t sum[SHA256::kSize];
    digest_.final(sum);
    std::string hex;
    for (uint8_t b : sum) hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
    buffer_ += "end " + hex + "\n";
    flush();
    return ok_;
  }

 private:
  static constexpr size_t kFlushAt = 65536;
  void flush() {
    ok_ = ok_ && writeAll(fd_, buffer_);
    buffer_.clear();
  }
  int fd_;
  bool ok_ = true;
  SHA256 digest_;
  std::string buffer_;
};

}  // namespace

bool writeCommitRecord(const StagedChanges& set, bool runPostCommit) {
  const std::string folder = parentDirectory(kCommitRecordPath);
  std::string temporary;
  int fd = createTemporary(folder, &temporary);
  if (fd < 0) return false;
  RecordWriter record(fd);
  record.add(std::string(kHeading) + (runPostCommit ? " post-commit\n" : "\n"));
  for (const auto& [target, change] : set) {
    record.add(std::to_string(static_cast<int>(change.kind)) + " " + std::to_string(target.size()) + " " +
               std::to_string(change.data.size()) + "\n" + target + change.data + "\n");
  }
  bool ok = record.finish() && fsync(fd) == 0;
  int error = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && rename(temporary.c_str(), kCommitRecordPath) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    unlink(temporary.c_str());
    errno = error;
    return false;
  }
  syncFolder(folder);
  return true;
}

bool readCommitRecord(StagedChanges* set, bool* runPostCommit) {
  std::string text;
  if (!readFile(kCommitRecordPath, &text)) return false;
  const size_t end = text.rfind("end ");
  if (end == std::string::npos || text.compare(end, std::string::npos, "end " + hexDigest(text.substr(0, end)) + "\n") != 0) {
    return false;
  }
  size_t pos = text.find('\n');
  const std::string heading = text.substr(0, pos);
  if (heading != kHeading && heading != std::string(kHeading) + " post-commit") return false;
  *runPostCommit = heading != kHeading;
  ++pos;
  while (pos < end) {
    unsigned long long kind, targetLength, dataLength;
    if (!readNumbers(text, &pos, &kind, &targetLength, &dataLength)) return false;
    if (targetLength > end - pos || dataLength > end - pos - targetLength || pos + targetLength + dataLength >= end ||
        text[pos + targetLength + dataLength] != '\n') {
      return false;
    }
    if (kind != 0 && kind != 1 && kind != 3 && kind != 4) return false;
    (*set)[text.substr(pos, targetLength)] =
        StagedChange{static_cast<ChangeKind>(kind), text.substr(pos + targetLength, dataLength)};
    pos += targetLength + dataLength + 1;
  }
  return true;
}

void removeCommitRecord() {
  if (unlink(kCommitRecordPath) == 0) syncFolder(parentDirectory(kCommitRecordPath));
}
