// Runs test code in a forked child with its own mount namespace, so that
// small tmpfs file systems can stand in for the router's "/flash" and
// "/flash/boot" under a scratch root without touching the machine's mounts.
#pragma once
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "support/scratch_root.h"

namespace mounts {

struct Tmpfs {
  std::string routerPath;  // "/flash", "/flash/boot"
  std::string size;        // tmpfs size option: "64k", "17t"
};

// Mounts the file systems (in order) on the scratch root's host paths, then
// runs fn; true when fn reported no failure. The mounts vanish with the child.
inline bool withTmpfs(const ScratchRoot& root, const std::vector<Tmpfs>& filesystems,
                      const std::function<void()>& fn) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      std::perror("private mount namespace");
      _exit(2);
    }
    for (const Tmpfs& fs : filesystems) {
      const std::string target = root.host(fs.routerPath);
      mkdir(target.c_str(), 0755);
      const std::string options = "size=" + fs.size;
      if (mount("tmpfs", target.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        std::perror("mount tmpfs");
        _exit(2);
      }
    }
    fn();
    std::fflush(nullptr);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace mounts
