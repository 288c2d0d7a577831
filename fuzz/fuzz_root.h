// Every fuzz target runs chrooted in a scratch router root, so code that
// writes "/flash/..." or "/ram/..." can never touch the machine's own.
//
// The root is the folder named by FUZZ_ROOT (scripts/fuzz.sh makes one per
// target, with the corpus in it as "/corpus" and artifacts going to
// "/artifacts"). Paths given to the fuzzer on its command line are resolved
// after the change of root, so they must be paths inside it.
//
// In a private mount namespace the root gets /proc (the leak checker lists
// the process's threads there) and a read-only /usr (the symbolizer of a crash
// report lives there).
#pragma once
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "repo/repository.h"

namespace fuzzroot {

inline void makeDirectory(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    ::mkdir(path.substr(0, slash).c_str(), 0755);
    if (slash == std::string::npos) break;
  }
}

// Host links such as /lib -> usr/lib are made again inside the root.
inline void copyLink(const std::string& root, const char* name) {
  char target[256];
  ssize_t n = ::readlink(name, target, sizeof target - 1);
  if (n <= 0) return;
  target[n] = '\0';
  if (::symlink(target, (root + name).c_str()) != 0 && errno != EEXIST) return;
}

inline void bindReadOnly(const std::string& root, const char* name) {
  struct stat st;
  if (::lstat(name, &st) != 0) return;
  if (S_ISLNK(st.st_mode)) return copyLink(root, name);
  std::string at = root + name;
  ::mkdir(at.c_str(), 0755);
  if (::mount(name, at.c_str(), nullptr, MS_BIND | MS_REC, nullptr) == 0)
    ::mount(nullptr, at.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY | MS_REC, nullptr);
}

// Changes root to the scratch folder; exits when that cannot be done, since
// running on the machine's own root is never an option.
inline void enter() {
  const char* given = std::getenv("FUZZ_ROOT");
  std::string root;
  if (given != nullptr && *given != '\0') {
    root = given;
  } else {
    char templ[] = "/tmp/installer-fuzz-XXXXXX";
    if (::mkdtemp(templ) == nullptr) {
      std::perror("mkdtemp");
      std::exit(1);
    }
    root = templ;
    std::fprintf(stderr, "fuzz root: %s (set FUZZ_ROOT to choose it)\n", root.c_str());
  }
  if (root.back() == '/') root.pop_back();
  for (const char* dir : {"/flash/var/pdb", "/ram/pdb", "/rw/pckg/.download", "/rw/pckg/.images",
                          "/flash/rw/pckg", "/flash/var/pckg", "/tmp", "/artifacts", "/corpus"})
    makeDirectory(root + dir);

  if (::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0) {
    makeDirectory(root + "/proc");
    ::mount("proc", (root + "/proc").c_str(), "proc", 0, nullptr);
    bindReadOnly(root, "/usr");
    for (const char* link : {"/lib", "/lib32", "/lib64", "/bin", "/sbin"}) copyLink(root, link);
  } else {
    std::fprintf(stderr, "no private mount namespace (%s): run with -detect_leaks=0\n", std::strerror(errno));
  }
  if (::chroot(root.c_str()) != 0 || ::chdir("/") != 0) {
    std::perror("chroot");
    std::exit(1);
  }
  Repository::instance().quiet = true;
}

// Writes a whole file inside the root; false when it cannot.
inline bool writeFile(const std::string& path, const uint8_t* data, size_t size) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  return done == size;
}

// Removes everything below path (not path itself), without following links.
inline void clearTree(const std::string& path) {
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return;
  while (struct dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::string child = path + "/" + name;
    struct stat st;
    if (::lstat(child.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      clearTree(child);
      ::rmdir(child.c_str());
    } else {
      ::unlink(child.c_str());
    }
  }
  ::closedir(dir);
}

}  // namespace fuzzroot
