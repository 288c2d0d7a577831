// Paths of a package's database entry and schedule file, and the reader of
// the token-based relation files.
#include "repo/entry_directory.h"

#include <fstream>
#include <iomanip>

#include "repo/repository.h"

namespace {

// Relation names come from 16-byte fields; a word this long can only be a
// corrupt file, and reading it whole would let the file size the allocation.
constexpr size_t kMaxWord = 255;

bool isScheduleNameByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

}  // namespace

std::string entryDirectory(const PackageInfo& package) {
  return std::string(kDatabaseDirectory) + package.name + "/";
}

bool hasValidEntryName(const std::string& name) {
  // "" and "." would name the database directory itself, ".." its parent,
  // and a "/" a path outside the entry's own directory.
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::string scheduleFilePath(const std::string& name) {
  std::string filtered;
  for (char c : name) {
    if (isScheduleNameByte(c)) filtered += c;
  }
  return "/ram/pdb/" + filtered + "/schedule";
}

bool readRelationFile(const std::string& path, std::vector<Relation>& list, bool withPriority) {
  std::ifstream in(path);
  for (;;) {
    Relation relation;
    // A missing file, an empty one and the clean end all read as no more names.
    if (!(in >> std::setw(kMaxWord + 2) >> relation.name)) return true;
    if (relation.name.size() > kMaxWord) return false;
    unsigned minVersion = 0;
    unsigned maxVersion = 0;
    if (!(in >> minVersion >> maxVersion)) return false;
    relation.minVersion = minVersion;
    relation.maxVersion = maxVersion;
    if (withPriority) {
      int priority = 0;
      if (!(in >> priority)) return false;
      relation.priority = priority;
    }
    list.push_back(std::move(relation));
  }
}
