#include "support/scratch_root.h"

#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "staging/atomic_writer.h"
#include "support/fixtures.h"

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

namespace {

// Removes a file, link or folder tree, never following links or leaving the file system.
void removeTree(const std::string& path) {
  auto removeEntry = [](const char* entry, const struct stat*, int, struct FTW*) {
    ::remove(entry);  // unlink or rmdir; what cannot go is left rather than chased
    return 0;
  };
  ::nftw(path.c_str(), removeEntry, 32, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
}

// An erased progress line (blank after its last "\r") goes with its "\n".
std::string plainOutput(std::string text) {
  for (const std::string cursor : {"\x1b[?25l", "\x1b[?25h"})
    for (size_t at = 0; (at = text.find(cursor, at)) != std::string::npos;) text.erase(at, cursor.size());
  std::string plain;
  for (size_t start = 0; start < text.size();) {
    const size_t end = std::min(text.find('\n', start), text.size());
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (const size_t lastReturn = line.rfind('\r'); lastReturn != std::string::npos) {
      line.erase(0, lastReturn + 1);
      if (line.find_first_not_of(" \t") == std::string::npos) continue;
    }
    plain += line + (end < text.size() ? "\n" : "");
  }
  return plain;
}

// In a forked child: a private mount namespace with tmpfs mounts and read-only binds, then a chroot.
bool isolate(const std::vector<std::pair<std::string, std::string>>& tmpfs,
             const std::vector<std::pair<std::string, std::string>>& binds, const std::string& chrootTo) {
  std::string failed;
  if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    failed = "make a private mount namespace";
  for (const auto& [hostPath, size] : tmpfs) {
    ::mkdir(hostPath.c_str(), 0755);
    if (failed.empty() && ::mount("tmpfs", hostPath.c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0)
      failed = "mount tmpfs on " + hostPath;
  }
  for (const auto& [source, target] : binds) {
    if (failed.empty() && (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0 ||
                           ::mount(nullptr, target.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0))
      failed = "bind " + source + " to " + target;
  }
  if (failed.empty() && !chrootTo.empty() && (::chroot(chrootTo.c_str()) != 0 || ::chdir("/") != 0))
    failed = "change root to " + chrootTo;
  if (!failed.empty()) ADD_FAILURE() << "cannot " << failed;
  return failed.empty();
}

// What a linked program needs from the host: folders are bound, links (/lib -> usr/lib) copied.
const char* const kHostSystemPaths[] = {"/usr", "/lib", "/lib64", "/lib32", "/libx32", "/bin", "/sbin", "/etc"};
const char* const kChrootedBinary = "/.installer";

}  // namespace

RunResult runProgram(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                     const std::string& stdinData, const std::function<bool()>& prepare) {
  RunResult result;
  int in[2];
  const int out = ::memfd_create("out", MFD_CLOEXEC), err = ::memfd_create("err", MFD_CLOEXEC);
  if (out < 0 || err < 0 || ::pipe2(in, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return result;
  }
  // A child that exits without reading its input must not kill the test with SIGPIPE.
  ::signal(SIGPIPE, SIG_IGN);
  std::cout.flush();
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) {
    ADD_FAILURE() << "fork: " << std::strerror(errno);
    for (int fd : {in[0], in[1], out, err}) ::close(fd);
    return result;
  }
  if (pid == 0) {
    ::signal(SIGPIPE, SIG_DFL);
    ::dup2(in[0], 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (prepare && !prepare()) {
      std::fflush(nullptr);
      ::_exit(126);
    }
    std::vector<std::string> environment = {"PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"};
    for (const auto& [name, value] : env) environment.push_back(name + "=" + value);
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    for (const auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    args.push_back(nullptr);
    envp.push_back(nullptr);
    ::execve(args[0], args.data(), envp.data());
    std::fprintf(stderr, "exec %s: %s\n", args[0], std::strerror(errno));
    ::_exit(127);
  }
  ::close(in[0]);
  // Fed from a thread, so a child that never reads it cannot block the wait.
  std::thread feeder([&] {
    for (size_t done = 0; done < stdinData.size();) {
      const ssize_t n = ::write(in[1], stdinData.data() + done, stdinData.size() - done);
      if (n < 0 && errno != EINTR) break;
      done += std::max<ssize_t>(n, 0);
    }
    ::close(in[1]);
  });
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) continue;
  feeder.join();
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  else if (WIFSIGNALED(status)) result.status = 128 + WTERMSIG(status);
  result.out = readFile("/proc/self/fd/" + std::to_string(out));
  result.err = readFile("/proc/self/fd/" + std::to_string(err));
  for (int fd : {out, err}) ::close(fd);
  result.outPlain = plainOutput(result.out);
  return result;
}

ScratchRoot::ScratchRoot() {
  makeDirectories(INSTALLER_TEST_TMP);
  std::string pattern = std::string(INSTALLER_TEST_TMP) + "/root-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp " << pattern << ": " << std::strerror(errno);
    return;
  }
  ::chmod(pattern.c_str(), 0755);
  path_ = pattern;
  for (const char* dir : {"/flash/var/pdb", "/ram", "/rw/pckg/.download", "/rw/pckg/.images", "/flash/rw/pckg",
                          "/flash/var/pckg", "/tmp"})
    makeDirectories(host(dir));
}

ScratchRoot::~ScratchRoot() {
  // Only a folder this object made under the test folder is ever removed.
  if (!path_.empty() && path_.rfind(INSTALLER_TEST_TMP "/root-", 0) == 0) removeTree(path_);
}

std::string ScratchRoot::host(const std::string& routerPath) const {
  return path_ + (routerPath.compare(0, 1, "/") == 0 ? "" : "/") + routerPath;
}

void ScratchRoot::write(const std::string& routerPath, const std::string& content, unsigned mode) {
  const std::string file = host(routerPath);
  makeDirectories(file.substr(0, file.rfind('/')));
  ::unlink(file.c_str());  // a link is replaced, never written through
  fixtures::writeFile(file, content, mode);
}

std::string ScratchRoot::read(const std::string& routerPath) const { return readFile(host(routerPath)); }

bool ScratchRoot::exists(const std::string& routerPath) const { return fixtures::pathExists(host(routerPath)); }

void ScratchRoot::remove(const std::string& routerPath) const { removeTree(host(routerPath)); }

RunResult ScratchRoot::run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                           const std::string& stdinData) const {
  std::vector<std::string> argv = {INSTALLER_BINARY, "-r", path_};
  argv.insert(argv.end(), args.begin(), args.end());
  return runProgram(argv, env, stdinData);
}

RunResult ScratchRoot::runChrooted(const std::vector<std::string>& args,
                                   const std::map<std::string, std::string>& env, const std::string& stdinData,
                                   const std::vector<std::string>& wrapper) const {
  // The mount points are made here and removed after the run; the mounts live in the child's namespace.
  std::vector<std::string> madeFiles;
  std::vector<std::pair<std::string, std::string>> binds = {{INSTALLER_BINARY, host(kChrootedBinary)}};
  for (const char* system : kHostSystemPaths) {
    struct stat st;
    if (::lstat(system, &st) != 0 || exists(system)) continue;
    const std::string target = host(system), link = fixtures::readLink(system);
    if (S_ISLNK(st.st_mode) && !link.empty() && ::symlink(link.c_str(), target.c_str()) == 0) madeFiles.push_back(target);
    if (S_ISDIR(st.st_mode) && ::mkdir(target.c_str(), 0755) == 0) binds.emplace_back(system, target);
  }
  if (const int fd = ::open(binds[0].second.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0755); fd >= 0) {
    ::close(fd);
    madeFiles.push_back(binds[0].second);
  }
  std::vector<std::string> argv = wrapper;
  argv.push_back(kChrootedBinary);
  argv.insert(argv.end(), args.begin(), args.end());
  RunResult result = runProgram(argv, env, stdinData, [&] { return isolate({}, binds, path_); });
  for (const std::string& file : madeFiles) ::unlink(file.c_str());
  for (size_t i = 1; i < binds.size(); ++i) ::rmdir(binds[i].second.c_str());  // empty again once the namespace is gone
  return result;
}

bool ScratchRoot::runInside(const std::function<void()>& fn) const { return runIsolated(fn, {}, path_); }

bool runIsolated(const std::function<void()>& fn, const std::vector<std::pair<std::string, std::string>>& tmpfs,
                 const std::string& chrootTo) {
  const RunResult child = runProgram({}, {}, "", [&]() -> bool {
    if (isolate(tmpfs, {}, chrootTo)) fn();
    std::cout.flush();
    std::fflush(nullptr);
    ::_exit(::testing::Test::HasFailure() ? 1 : 0);  // the parent's gtest state is not the child's to tear down
  });
  std::cout << child.out << child.err << std::flush;  // what fn printed, failures included
  return child.status == 0;
}
