// "installer -": one package or bundle piped in on standard input, kept as
// the stored image of its entry (or as the boot image).
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "app/modes.h"
#include "console/messages.h"
#include "install/install_stream.h"
#include "install/stream_check.h"
#include "platform/fd_stream_buffer.h"
#include "repo/repository.h"
#include "resolve/action_engine.h"
#include "staging/commit.h"
#include "staging/staged_changes.h"

namespace {

// The copy is written directly while the stream is read; it becomes the
// stored image only through the staged move below.
constexpr const char* kStagedImagePath = "/flash/var/pdb/image";
constexpr const char* kBootImagePath = "/flash/bootimage";
constexpr long kImageReadBlock = 65536;

// The image copy, remembering whether every byte reached the file: the
// reader does not look at what the sink returns, and a copy cut short by a
// full flash must never become a stored image.
class CheckedCopy : public std::streambuf {
 public:
  explicit CheckedCopy(std::filebuf* file) : file_(file) {}
  bool failed() const { return failed_; }
  int error() const { return error_; }

 protected:
  std::streamsize xsputn(const char* data, std::streamsize count) override {
    std::streamsize written = file_->sputn(data, count);
    if (written != count) noteFailure();
    return written;
  }
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    if (traits_type::eq_int_type(file_->sputc(traits_type::to_char_type(c)), traits_type::eof())) {
      noteFailure();
      return traits_type::eof();
    }
    return c;
  }

 private:
  void noteFailure() {
    if (!failed_) error_ = errno;
    failed_ = true;
  }

  std::filebuf* file_;  // not owned
  bool failed_ = false;
  int error_ = 0;
};

}  // namespace

int runStandardInputMode(Repository& repository, uint32_t tolerated) {
  StagedChanges staged;
  applyActions(repository, 1, staged);

  std::filebuf copy;
  if (copy.open(kImageCopyPath, std::ios_base::out | std::ios_base::trunc | std::ios_base::binary) == nullptr) {
    std::fputs("ERROR: could not open image\n", stdout);
    std::fflush(stdout);
    // Nothing is carried out; the temporaries of the pending actions are
    // deleted rather than left behind on flash.
    discardChanges(staged);
    return 255;
  }

  // The pipe is read once: copied into the image file while its signatures
  // are checked. The installation then reads the copy, so nothing of a
  // payload is unpacked before its signature was found good.
  std::string directory;
  bool bootImage = false;
  FdStreamBuffer input(STDIN_FILENO);
  CheckedCopy checkedCopy(&copy);
  const StreamCheck check = checkStream(&input, &checkedCopy);
  // Closed whatever happened: an unlinked copy still open would hold its
  // blocks while the error reaches the log.
  const bool closed = copy.close() != nullptr;
  const bool copyFailed = checkedCopy.failed() || !closed;
  const int copyError = checkedCopy.failed() ? checkedCopy.error() : errno;
  if (copyFailed) {
    printError("installation failed: could not write %s: %s", kStagedImagePath, std::strerror(copyError));
    discardChanges(staged);
    ::unlink(kImageCopyPath);
    repository.writePostlog();
    return 255;
  }

  const size_t messagesBefore = repository.logLines.size();
  InputFile image(kImageCopyPath, kImageReadBlock);
  int result = installFromStream(repository, staged, image.buffer(), tolerated | 0x01, ChoicesMap(), &check,
                                 &directory, &bootImage);

  // Some refusals (a stream whose first header cannot be read) say nothing
  // on their own; the caller of a pipe gets one line all the same.
  if (result != 0 && repository.logLines.size() == messagesBefore) {
    printError("installation of %s failed: broken package", "standard input");
  }

  bool keepCopy = false;
  if (result == 0) {
    // A package without a blob has no entry to keep the copy in; only the
    // boot image still needs it then.
    if (bootImage) {
      stageMove(staged, kStagedImagePath, kBootImagePath);
      if (!directory.empty()) stageSymlink(staged, kBootImagePath, directory + "image");
      keepCopy = true;
    } else if (!directory.empty()) {
      stageMove(staged, kStagedImagePath, directory + "image");
      keepCopy = true;
    }
    CommitFailure failure;
    if (!checkRoom(staged)) {
      result = 28;
    } else if (!stageChangedMarker(staged)) {
      result = 255;
    } else if (!commitChanges(staged, false, &failure)) {
      printError("installation failed: %s", failure.what.c_str());
      result = 255;
    }
    if (result != 0) {
      discardChanges(staged);
      keepCopy = false;
    }
  } else {
    // A failed installation changes nothing on flash: the package it was
    // to replace keeps its files and entry, and scheduled actions wait.
    discardChanges(staged);
  }
  if (!keepCopy) ::unlink(kImageCopyPath);

  repository.writePostlog();
  return result;
}
