// loadEntry and removeEntry: a record's own database entry, read back at
// start-up and staged away on uninstallation.
#include "repo/package_entry.h"

#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <iomanip>

#include "repo/entry_directory.h"
#include "repo/repository.h"

namespace {

constexpr const char* kBootImagePath = "/flash/bootimage";
// No installed path is longer than the system's path limit; a longer line
// is a corrupt "files" file and is dropped rather than held in memory.
constexpr size_t kMaxPathLine = 4096;
// Longest schedule or bundle word worth reading; longer ones are garbage.
constexpr size_t kMaxWord = 255;

// Reads one whitespace-delimited word of at most kMaxWord bytes. A longer
// word is read as its first bytes, which can never equal a real word.
bool readWord(const std::string& path, std::string* word) {
  std::ifstream in(path);
  return static_cast<bool>(in >> std::setw(kMaxWord + 1) >> *word);
}

// Every non-empty line of the file list, each made absolute. A last line
// without a newline counts; an overlong line is skipped whole.
void readFileList(std::istream& in, FileSet& files) {
  std::string line;
  bool overlong = false;
  char buffer[4096];
  for (;;) {
    in.read(buffer, sizeof buffer);
    std::streamsize got = in.gcount();
    if (got <= 0) break;
    for (std::streamsize i = 0; i < got; ++i) {
      char c = buffer[i];
      if (c != '\n') {
        if (line.size() < kMaxPathLine) {
          line += c;
        } else {
          overlong = true;
        }
        continue;
      }
      if (!overlong && !line.empty()) files.insert(line[0] == '/' ? line : "/" + line);
      line.clear();
      overlong = false;
    }
  }
  if (!overlong && !line.empty()) files.insert(line[0] == '/' ? line : "/" + line);
}

// The first line is "auto" for an automatic choice; anything else, an empty
// file included, was the user's. Only the first five bytes matter.
bool disabledByUser(std::istream& in) {
  char head[5] = {};
  in.read(head, sizeof head);
  std::streamsize got = in.gcount();
  bool isAuto = got >= 4 && head[0] == 'a' && head[1] == 'u' && head[2] == 't' && head[3] == 'o' &&
                (got == 4 || head[4] == '\n');
  return !isAuto;
}

void applySchedule(Package& package) {
  std::string word;
  if (!readWord(scheduleFilePath(package.name), &word)) return;
  if (word == "uninstall") {
    package.action = PendingAction::Uninstall;
  } else if (word == "enable") {
    package.action = PendingAction::Enable;
    package.byUser = true;
  } else if (word == "disable") {
    package.action = PendingAction::Disable;
    package.byUser = true;
  }
}

// A "files" list is read back from flash and trusted no further than this:
// a path below "/flash", outside the database, whose entry folders go by
// their own rule.
bool isRemovablePath(const std::string& path) {
  return path.compare(0, 7, "/flash/") == 0 &&
         path.compare(0, std::strlen(kDatabaseDirectory), kDatabaseDirectory) != 0;
}

}  // namespace

void loadEntry(Package& package) {
  // A name that cannot own an entry directory (from a corrupt image header)
  // would make these paths point at the database directory or outside it.
  bool validName = hasValidEntryName(package.name);
  const std::string directory = entryDirectory(package);

  if (package.version == 0) {
    if (!validName) {
      package.action = PendingAction::Uninstall;
    } else {
      std::ifstream versionFile(directory + "version");
      unsigned packedVersion = 0;
      unsigned built = 0;
      if (versionFile >> packedVersion >> built) {
        package.version = packedVersion;
        package.buildTime = built;
      } else {
        package.action = PendingAction::Uninstall;
      }
      if (!readRelationFile(directory + "deps", package.dependencies, false)) {
        package.action = PendingAction::Uninstall;
      }
      if (!readRelationFile(directory + "provides", package.provides, true)) {
        package.action = PendingAction::Uninstall;
      }
      if (!readRelationFile(directory + "conflicts", package.conflicts, false)) {
        package.action = PendingAction::Uninstall;
      }

      // A member read from its bundle's image has a version and never gets
      // here; one that does lost its bundle and goes.
      std::string bundleName;
      if (readWord(directory + "bundle", &bundleName)) {
        package.bundle = Relation{bundleName, 0, 0, 0};
        package.action = PendingAction::Uninstall;
      }

      std::ifstream fileList(directory + "files", std::ios::binary);
      if (!fileList) {
        package.isBundle = true;
      } else {
        package.isBundle = false;
        readFileList(fileList, package.files);
      }
    }
  } else if (validName) {
    // Filled from an image, but the entry may still list installed files: a
    // bundle member's does. Without them, uninstalling or replacing the
    // member would leave its files on flash for good.
    std::ifstream fileList(directory + "files", std::ios::binary);
    if (fileList) readFileList(fileList, package.files);
  }

  package.byUser = false;
  package.disabled = false;
  if (validName) {
    std::ifstream disabledFile(directory + "disabled", std::ios::binary);
    if (disabledFile) {
      package.disabled = true;
      package.byUser = disabledByUser(disabledFile);
    } else if (std::ifstream(directory + "enabled")) {
      package.byUser = true;
    }
  }

  if (!isPlaceholder(package)) applySchedule(package);
}

void removeEntry(Repository& repository, Package& package, StagedChanges& staged) {
  // Nothing on flash belongs to a name without a valid entry directory.
  if (hasValidEntryName(package.name)) {
    // The stored paths are the final absolute paths the payload wrote.
    auto& index = repository.owners();
    for (const std::string& path : package.files) {
      auto owners = index.find(path);
      if (owners != index.end() && --owners->second > 0) continue;  // another package keeps it
      if (owners != index.end()) index.erase(owners);
      if (isRemovablePath(path)) stageFileRemoval(staged, path);
    }
    const std::string directory = entryDirectory(package);
    stageRemoval(staged, directory);
    stageRemoval(staged, directory + "image");
    struct stat status;
    // A boot image with further links is still used by another name.
    if ((package.flags & kFlagBootImage) && stat(kBootImagePath, &status) == 0 && status.st_nlink == 1) {
      stageRemoval(staged, kBootImagePath);
    }
  }
  package.files.clear();
  package.action = PendingAction::None;
}
