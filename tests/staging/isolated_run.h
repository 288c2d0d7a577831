// Helpers for the staging tests: a throw-away folder under the build tree,
// and runs of test code in a forked child with its own mount namespace, so
// small tmpfs file systems can be mounted (and a root changed) without the
// machine seeing any of it.
#pragma once
#include <dirent.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

class TestFolder {
 public:
  TestFolder();
  ~TestFolder();
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

 private:
  std::string path_;
};

struct TmpfsMount {
  std::string hostPath;  // an existing folder
  std::string options;   // e.g. "size=64k"
};

// Runs fn in a forked child: a private mount namespace, the tmpfs mounts,
// then (when chrootTo is not empty) a change of root to chrootTo and of the
// working directory to "/". Returns whether the child ran without a failure.
inline bool runIsolated(const std::function<void()>& fn, const std::vector<TmpfsMount>& mounts = {},
                 const std::string& chrootTo = "");

// Small file helpers on host paths.
inline void writeFile(const std::string& path, const std::string& content, unsigned mode = 0644);
inline std::string readFile(const std::string& path);
inline bool pathExists(const std::string& path);  // without following a last link
inline unsigned fileMode(const std::string& path);  // low 12 bits
inline std::vector<std::string> listFolder(const std::string& path);  // names, sorted, without "." and ".."

inline TestFolder::TestFolder() {
  std::error_code ec;
  std::filesystem::create_directories(INSTALLER_TEST_TMP, ec);
  std::string pattern = std::string(INSTALLER_TEST_TMP) + "/staging-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr) ADD_FAILURE() << "cannot make a test folder under " << INSTALLER_TEST_TMP;
  path_ = name.data();
}

inline TestFolder::~TestFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

inline bool runIsolated(const std::function<void()>& fn, const std::vector<TmpfsMount>& mounts,
                 const std::string& chrootTo) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    bool ready = unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    if (!ready) ADD_FAILURE() << "cannot make a private mount namespace";
    for (const TmpfsMount& m : mounts) {
      if (ready && mount("tmpfs", m.hostPath.c_str(), "tmpfs", 0, m.options.c_str()) != 0) {
        ADD_FAILURE() << "cannot mount tmpfs on " << m.hostPath;
        ready = false;
      }
    }
    if (ready && !chrootTo.empty() && (chroot(chrootTo.c_str()) != 0 || chdir("/") != 0)) {
      ADD_FAILURE() << "cannot change root to " << chrootTo;
      ready = false;
    }
    if (ready) fn();
    std::fflush(nullptr);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

inline void writeFile(const std::string& path, const std::string& content, unsigned mode) {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) ADD_FAILURE() << "cannot write " << path;
  }
  chmod(path.c_str(), mode);
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline bool pathExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

inline unsigned fileMode(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return 0xFFFFFFFFu;
  return st.st_mode & 07777;
}

inline std::vector<std::string> listFolder(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* d = opendir(path.c_str())) {
    while (struct dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Checks a runIsolated result without printing the whole lambda on failure;
// the child has printed its own failures already.
#define EXPECT_ISOLATED(call)                                           \
  do {                                                                  \
    bool isolatedChildPassed = (call);                                  \
    EXPECT_TRUE(isolatedChildPassed) << "the isolated child failed";    \
  } while (0)
