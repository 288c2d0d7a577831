// "installer -": one package or bundle piped in on standard input, kept as
// the stored image of its entry (or as the boot image).
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

#include "app/modes.h"
#include "platform/fd_stream_buffer.h"
#include "repo/repository.h"
#include "resolve/action_engine.h"
#include "resolve/install_stream.h"
#include "staging/commit.h"
#include "staging/staged_changes.h"

namespace {

// The copy is written directly while the stream is read; it becomes the
// stored image only through the staged move below.
constexpr const char* kImageCopyPath = "/flash/var/pdb//image";
constexpr const char* kStagedImagePath = "/flash/var/pdb/image";
constexpr const char* kBootImagePath = "/flash/bootimage";

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

  std::string directory;
  bool bootImage = false;
  FdStreamBuffer input(STDIN_FILENO);
  int result = installFromStream(repository, staged, &input, tolerated | 0x01, ChoicesMap(), &copy,
                                 &directory, &bootImage);
  copy.close();

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
    if (stageChangedMarker(staged)) {
      commitChanges(staged, false);
    } else {
      discardChanges(staged);
      keepCopy = false;
      result = 255;
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
