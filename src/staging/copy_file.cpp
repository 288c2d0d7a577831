// The cross-device half of a staged move: a rename cannot cross file
// systems, so before a commit passes its point of no return the source is
// copied into a temporary on the target's own file system, from which the
// commit renames it. A full disk or a read error fails the copy, never the
// commit.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "staging/commit.h"
#include "staging/spinner.h"
#include "staging/temporary_files.h"

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

bool copyToTemporary(const std::string& source, const std::string& folder, bool showProgress, std::string* copy) {
  struct stat st;
  // Only plain files are moved by a commit.
  if (stat(source.c_str(), &st) != 0) return false;
  if (!S_ISREG(st.st_mode)) {
    errno = EISDIR;
    return false;
  }
  int from = open(source.c_str(), O_RDONLY);
  if (from < 0) return false;
  int to = createTemporary(folder, copy);
  if (to < 0) {
    const int error = errno;
    close(from);
    errno = error;
    return false;
  }
  bool ok = copyContent(from, to, showProgress);
  // The mode is set after the data so that nothing can clear set-id bits.
  if (ok) ok = fchmod(to, st.st_mode & 07777) == 0;
  int error = errno;
  if (close(to) != 0 && ok) {
    ok = false;
    error = errno;
  }
  close(from);
  if (!ok) {
    unlink(copy->c_str());
    errno = error;
  }
  return ok;
}
