// The cross-device half of a staged move: a rename that cannot cross file
// systems becomes a copy. The copy goes to a temporary beside the target and
// replaces it by a rename, so a full disk or a read error never leaves a
// half-written installed file.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "staging/atomic_writer.h"
#include "staging/commit.h"
#include "staging/spinner.h"

namespace {

constexpr size_t kCopyChunk = 16384;

ssize_t readRetrying(int fd, char* buffer, size_t size) {
  ssize_t n;
  do {
    n = read(fd, buffer, size);
  } while (n < 0 && errno == EINTR);
  return n;
}

// A short write is retried for the rest, so that a full disk surfaces as
// ENOSPC rather than as a silently shorter file.
bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool copyContent(int from, int to, bool showProgress) {
  char buffer[kCopyChunk];
  for (;;) {
    ssize_t n = readRetrying(from, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) return false;
    if (!writeAll(to, buffer, static_cast<size_t>(n))) return false;
    if (showProgress) spinnerStep();
  }
}

}  // namespace

bool copyFile(const std::string& source, const std::string& target, bool showProgress) {
  struct stat st;
  // Only plain files are moved by a commit; a directory or a dangling link
  // is left alone, as a failed rename of it would be.
  if (stat(source.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;

  int from = open(source.c_str(), O_RDONLY);
  if (from < 0) {
    std::perror("copy");
    return false;
  }
  std::string pattern = parentDirectory(target) + "/tmpXXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int to = mkstemp(name.data());
  if (to < 0) {
    std::perror("copy");
    close(from);
    return false;
  }

  bool ok = copyContent(from, to, showProgress);
  // The mode is set after the data so that nothing can clear set-id bits.
  if (ok) ok = fchmod(to, st.st_mode & 07777) == 0;
  int savedErrno = errno;
  if (close(to) != 0 && ok) {
    ok = false;
    savedErrno = errno;
  }
  close(from);
  if (ok && rename(name.data(), target.c_str()) != 0) {
    ok = false;
    savedErrno = errno;
  }
  if (!ok) {
    unlink(name.data());
    errno = savedErrno;
    std::perror("copy");
  }
  return ok;
}
