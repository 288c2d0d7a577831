// Loading the package database: stored images first, then the entries
// without a readable image, then each record's small files and schedule.
#include <dirent.h>
#include <sys/stat.h>

#include <fstream>
#include <memory>

#include "console/messages.h"
#include "package/package_reader.h"
#include "platform/fd_stream_buffer.h"
#include "repo/entry_directory.h"
#include "repo/package_entry.h"
#include "repo/repository.h"

namespace {

// Header parts only: stored images are read header-only, so loading skips
// every payload by seeking and never inflates anything.
constexpr int32_t kImagePartTypes[] = {PartBundleHeader, PartHeader, PartText24, PartNote,
                                       PartDependencies, PartProvides, PartConflicts};

constexpr size_t kImageBufferSize = 1024;

// Only a directory can be a package entry. A plain file beside the entries
// is a temporary of a run still waiting for its commit (new entries' files
// are written next to the directory they will be moved into), or a left-over
// image copy; loaded, it would list as a package that can never be removed.
bool isEntryDirectory(const dirent& entry) {
  if (entry.d_type == DT_DIR) return true;
  if (entry.d_type != DT_UNKNOWN && entry.d_type != DT_LNK) return false;
  struct stat status;
  const std::string path = std::string(kDatabaseDirectory) + entry.d_name;
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The entry directories of the database in the order the system lists them,
// dot-names left out. False when the directory cannot be listed.
bool listDatabase(std::vector<std::string>* names) {
  DIR* directory = opendir(kDatabaseDirectory);
  if (directory == nullptr) return false;
  while (dirent* entry = readdir(directory)) {
    if (entry->d_name[0] == '.' || !isEntryDirectory(*entry)) continue;
    names->push_back(entry->d_name);
  }
  closedir(directory);
  return true;
}

}  // namespace

void Repository::open(const std::string& architectureName, bool quietMode) {
  quiet = quietMode;
  architecture = architectureName;
  if (!loadImages(kDatabaseDirectory, false)) {
    printWarning("could not open repo");
    return;
  }
  loadImages(kImagesDirectory, true);

  std::vector<std::string> names;
  if (!listDatabase(&names)) return;
  for (const std::unique_ptr<Package>& package : packages) loadEntry(*package);
  for (const std::string& name : names) {
    if (indexOfInstalled(name) >= 0) continue;
    auto package = std::make_unique<Package>(name);
    loadEntry(*package);
    packages.push_back(std::move(package));
  }
}

bool Repository::loadImages(const std::string& prefix, bool fromImagesDirectory) {
  std::vector<std::string> names;
  if (!listDatabase(&names)) return false;
  for (const std::string& name : names) {
    auto package = std::make_unique<Package>(name);
    const std::string path = fromImagesDirectory ? prefix + name : entryDirectory(*package) + "image";
    // A small buffer: the header group is usually a few hundred bytes, and
    // a larger one would pull in kilobytes of payload with it. A folder or an
    // unreadable image reads as a cut one: the entry's small files count.
    InputFile file(path, kImageBufferSize);
    if (!file.isOpen()) continue;

    PackageReader reader(file.buffer(), false, nullptr);
    for (int32_t type : kImagePartTypes) reader.accept(type);
    reader.nextPart();
    if (reader.partType() == PartBundleHeader) {
      reader.readHeader(*package);
      const Relation bundle{package->name, package->version, package->version, 0};
      while (reader.partType() == PartHeader) {
        auto member = std::make_unique<Package>();
        // A member header that cannot be read at all leaves the reader on
        // the same part: drop it and stop, or the loop would never end.
        if (!reader.readHeader(*member) && reader.partType() == PartHeader) break;
        member->bundle = bundle;
        packages.push_back(std::move(member));
      }
    } else {
      // Without a readable header the record keeps its name and version 0,
      // and its small files fill it later.
      reader.readHeader(*package);
    }
    packages.push_back(std::move(package));
  }
  return true;
}
