#include "staging/temporary_files.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "staging/atomic_writer.h"

namespace {

// mkstemp's pattern: "tmp" and six characters.
constexpr size_t kTemporaryNameLength = 9;

bool isTemporaryName(const char* name) {
  return std::strncmp(name, "tmp", 3) == 0 && std::strlen(name) == kTemporaryNameLength;
}

// The folders a run may have used: those on the file systems of "/flash",
// "/flash/boot", "/ram" and "/tmp" that exist.
std::set<std::string> knownFolders() {
  std::set<std::string> folders;
  for (const char* top : {"/flash", "/flash/boot", "/ram", "/tmp"}) {
    struct stat status;
    if (stat(top, &status) == 0 && S_ISDIR(status.st_mode)) folders.insert(temporaryFolderOn(top));
  }
  return folders;
}

}  // namespace

std::string temporaryFolderOn(const std::string& directory) {
  struct stat status;
  std::string top = directory;
  if (stat(directory.c_str(), &status) == 0) {
    // Climbing stops below "/": "/flash" and "/ram" keep folders of their own
    // even where they share the root's file system.
    for (;;) {
      const std::string parent = parentDirectory(top);
      struct stat above;
      if (parent == "/" || parent == "." || parent == top || stat(parent.c_str(), &above) != 0 ||
          above.st_dev != status.st_dev) {
        break;
      }
      top = parent;
    }
  }
  return (top == "/" ? "" : top) + "/" + kTemporaryFolderName;
}

int createTemporary(const std::string& folder, std::string* path) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::string pattern = folder + "/tmpXXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd >= 0) {
      *path = name.data();
      return fd;
    }
    // The folder is made on first use and removed again when a run ends.
    if (attempt > 0 || errno != ENOENT) return -1;
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return -1;
  }
  return -1;
}

bool isTemporaryPath(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos || !isTemporaryName(path.c_str() + slash + 1)) return false;
  const std::string folder = path.substr(0, slash);
  const std::string suffix = std::string("/") + kTemporaryFolderName;
  return folder.size() >= suffix.size() && folder.compare(folder.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void deleteTemporaries(const std::set<std::string>& keep) {
  for (const std::string& folder : knownFolders()) {
    DIR* listing = opendir(folder.c_str());
    if (listing == nullptr) continue;
    while (const dirent* entry = readdir(listing)) {
      if (!isTemporaryName(entry->d_name)) continue;
      const std::string path = folder + "/" + entry->d_name;
      if (keep.count(path) == 0) unlink(path.c_str());
    }
    closedir(listing);
    rmdir(folder.c_str());
  }
}

void removeEmptyTemporaryFolders() {
  for (const std::string& folder : knownFolders()) rmdir(folder.c_str());
}
