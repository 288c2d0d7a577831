// The manifest lets a staged set wait between a "--safe" run and the
// "--commit" or "--cancel" run that follows it: one line per change, in
// target order.
#include <unistd.h>

#include <fstream>
#include <string>

#include "staging/commit.h"

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
  std::ofstream out(path, std::ios::out | std::ios::binary | std::ios::trunc);
  for (const auto& [target, change] : set) {
    switch (change.kind) {
      case ChangeKind::Remove:
        out << "U " << target << '\n';
        break;
      case ChangeKind::Symlink:
        out << "L " << target << ' ' << change.data << '\n';
        break;
      case ChangeKind::MoveExisting:
      case ChangeKind::MoveTemporary:
        out << "M " << target << ' ' << change.data << '\n';
        break;
    }
  }
  // A manifest cut short by a full RAM disk would still read back as a
  // valid one, and its commit would carry out only the changes before the
  // cut: files without their database entries.
  out.close();
  if (out.fail()) {
    unlink(path.c_str());
    return false;
  }
  return true;
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
