// Collects a directory tree into payload entries.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "qpk/package_builder.h"

namespace qpk {

namespace {

bool walk(const std::string& root, const std::string& relative, std::vector<FileEntry>* files,
          std::vector<std::string>* skipped, std::string* error) {
  std::string dirPath = root + relative;
  DIR* dir = opendir(dirPath.c_str());
  if (dir == nullptr) {
    *error = "cannot read directory " + dirPath + ": " + std::strerror(errno);
    return false;
  }
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::string rel = relative + "/" + name;
    struct stat st;
    if (lstat((root + rel).c_str(), &st) != 0) {
      *error = "cannot stat " + root + rel + ": " + std::strerror(errno);
      return false;
    }
    if (S_ISDIR(st.st_mode)) {
      if (!walk(root, rel, files, skipped, error)) return false;
    } else if (!S_ISREG(st.st_mode)) {
      // A package carries plain files only; links and the like are left out.
      skipped->push_back(std::string(S_ISLNK(st.st_mode) ? "symbolic link " : "special file ") + root + rel);
    } else {
      FileEntry f;
      f.path = rel;
      f.mode = static_cast<uint16_t>(0x8000 | (st.st_mode & 07777));
      if (!readWholeFile(root + rel, &f.data)) {
        *error = "cannot read " + root + rel;
        return false;
      }
      if (f.data.size() > 0xFFFFFFFFu) {
        *error = root + rel + " is too large for a package";
        return false;
      }
      files->push_back(std::move(f));
    }
  }
  return true;
}

}  // namespace

bool collectFiles(const std::string& directory, std::vector<FileEntry>* files, std::vector<std::string>* skipped,
                  std::string* error) {
  std::string root = directory;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  if (!walk(root, "", files, skipped, error)) return false;
  std::sort(files->begin(), files->end(),
            [](const FileEntry& a, const FileEntry& b) { return a.path < b.path; });
  return true;
}

bool readWholeFile(const std::string& path, std::string* out) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);  // a folder is no file to read
  out->clear();
  char buffer[65536];
  while (ok) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    out->append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return ok;
}

}  // namespace qpk
