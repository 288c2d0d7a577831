// The manifest lets a staged set wait between a "--safe" run and the
// "--commit" or "--cancel" run that follows it: one line per change, in
// target order.
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>

#include "staging/atomic_writer.h"
#include "staging/commit.h"
#include "staging/temporary_files.h"

namespace {

struct ManifestLine {
  std::string fields[3];
  int count = 0;
};

// Fields are separated by single spaces; the third takes the rest of the
// line, so link text with spaces survives. An empty field counts as missing:
// no change has an empty target, source or link text.
ManifestLine splitLine(const std::string& line) {
  ManifestLine out;
  size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    size_t end = (i == 2) ? std::string::npos : line.find(' ', start);
    std::string field = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (field.empty()) break;
    out.fields[out.count++] = field;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return out;
}

}  // namespace

bool writeManifest(const StagedChanges& set, const std::string& path) {
  std::string text;
  for (const auto& [target, change] : set) {
    // A line must read back as it was written: paths are split at spaces
    // and lines at newlines (only a link's text may hold spaces). A path
    // that would read back as another is never written; the set cannot
    // wait in a manifest at all.
    const bool linkText = change.kind == ChangeKind::Symlink;
    if (target.find_first_of(" \n") != std::string::npos ||
        change.data.find_first_of(linkText ? "\n" : " \n") != std::string::npos) {
      unlink(path.c_str());
      return false;
    }
    switch (change.kind) {
      case ChangeKind::Remove:
        text += "U " + target + "\n";
        break;
      case ChangeKind::Symlink:
        text += "L " + target + " " + change.data + "\n";
        break;
      case ChangeKind::MoveExisting:
      case ChangeKind::MoveTemporary:
        text += "M " + target + " " + change.data + "\n";
        break;
    }
  }
  // A manifest cut short (a full RAM disk, a kill) would still read back as
  // a valid one, and its commit would carry out only the changes before the
  // cut: files without their database entries. So it is written whole
  // beside its place and renamed there; a failure leaves no manifest at all.
  std::string temporary;
  const int fd = createTemporary(parentDirectory(path) + "/" + kTemporaryFolderName, &temporary);
  bool ok = fd >= 0;
  for (size_t done = 0; ok && done < text.size();) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  if (fd >= 0 && close(fd) != 0) ok = false;
  if (ok && rename(temporary.c_str(), path.c_str()) == 0) return true;
  if (fd >= 0) unlink(temporary.c_str());
  unlink(path.c_str());
  return false;
}

bool readManifest(StagedChanges& set, const std::string& path) {
  std::ifstream in(path, std::ios::in | std::ios::binary);
  if (!in.is_open()) return false;
  std::string line;
  for (;;) {
    if (in.fail()) return !set.empty();
    std::getline(in, line);
    // An empty line, and the end of the file, end the manifest.
    if (line.empty()) return true;
    ManifestLine fields = splitLine(line);
    if (fields.count < 2) return false;
    // Everything a run stages lies below "/flash"; a line for any other
    // place was not written by one and is passed over.
    if (fields.fields[1].compare(0, 7, "/flash/") != 0) continue;
    const std::string& letter = fields.fields[0];
    if (letter == "U") {
      stageChange(set, fields.fields[1], ChangeKind::Remove, "");
    } else if (letter == "L") {
      if (fields.count < 3) return false;
      stageChange(set, fields.fields[1], ChangeKind::Symlink, fields.fields[2]);
    } else if (letter == "M") {
      if (fields.count < 3) return false;
      // The set that reads a manifest does not own the temporaries it
      // names: a cancel must leave them where they are.
      stageChange(set, fields.fields[1], ChangeKind::MoveExisting, fields.fields[2]);
    }
  }
}
