#include "support/scratch_root.h"

#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
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

#include "staging/atomic_writer.h"

namespace {
int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
  ::remove(path);  // unlink or rmdir; what cannot go is left rather than chased
  return 0;
}
}  // namespace

void removeTree(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return;
  if (!S_ISDIR(st.st_mode)) {
    ::unlink(path.c_str());
    return;
  }
  ::nftw(path.c_str(), removeEntry, 32, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

namespace {

std::string stripCursorSequences(std::string text) {
  for (const char* sequence : {"\x1b[?25l", "\x1b[?25h"}) {
    size_t length = std::strlen(sequence);
    for (size_t at = text.find(sequence); at != std::string::npos; at = text.find(sequence, at))
      text.erase(at, length);
  }
  return text;
}

bool onlyWhitespace(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\t'; });
}

// The rule is documented with RunResult::outPlain.
std::string plainOutput(const std::string& raw) {
  std::string text = stripCursorSequences(raw);
  std::string plain;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    bool terminated = end != std::string::npos;
    if (!terminated) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    size_t lastReturn = line.rfind('\r');
    if (lastReturn != std::string::npos) {
      line.erase(0, lastReturn + 1);
      if (onlyWhitespace(line)) continue;
    }
    plain += line;
    if (terminated) plain += '\n';
  }
  return plain;
}

// Runs argv with the pipes wired up; prepare runs in the child just before the
// exec and returns false to fail the child with status 126.
RunResult runWith(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                  const std::string& stdinData, const std::function<bool()>& prepare) {
  RunResult result;
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return result;
  }
  // A child that exits without reading its input must not kill the test with SIGPIPE.
  ::signal(SIGPIPE, SIG_IGN);
  std::cout.flush();
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid < 0) {
    ADD_FAILURE() << "fork: " << std::strerror(errno);
    return result;
  }
  if (pid == 0) {
    ::signal(SIGPIPE, SIG_DFL);
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    if (prepare && !prepare()) ::_exit(126);
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
  ::close(out[1]);
  ::close(err[1]);
  // Input is fed in chunks while both outputs are drained, so neither side
  // can block the other on a full pipe.
  int inFd = in[1];
  ::fcntl(inFd, F_SETFL, O_NONBLOCK);
  size_t written = 0;
  if (stdinData.empty()) {
    ::close(inFd);
    inFd = -1;
  }
  int outFd = out[0], errFd = err[0];
  char buffer[65536];
  while (outFd >= 0 || errFd >= 0) {
    struct pollfd fds[3];
    int count = 0;
    int outIndex = -1, errIndex = -1, inIndex = -1;
    if (outFd >= 0) fds[outIndex = count++] = {outFd, POLLIN, 0};
    if (errFd >= 0) fds[errIndex = count++] = {errFd, POLLIN, 0};
    if (inFd >= 0) fds[inIndex = count++] = {inFd, POLLOUT, 0};
    if (::poll(fds, count, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (inIndex >= 0 && fds[inIndex].revents != 0) {
      ssize_t n = ::write(inFd, stdinData.data() + written, std::min<size_t>(stdinData.size() - written, 65536));
      if (n > 0) written += static_cast<size_t>(n);
      if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == stdinData.size()) {
        ::close(inFd);
        inFd = -1;
      }
    }
    for (auto [index, fd, sink] : {std::tuple{outIndex, &outFd, &result.out}, std::tuple{errIndex, &errFd, &result.err}}) {
      if (index < 0 || fds[index].revents == 0) continue;
      ssize_t n = ::read(*fd, buffer, sizeof(buffer));
      if (n > 0) {
        sink->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        ::close(*fd);
        *fd = -1;
      }
    }
  }
  if (inFd >= 0) ::close(inFd);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  else if (WIFSIGNALED(status)) result.status = 128 + WTERMSIG(status);
  result.outPlain = plainOutput(result.out);
  return result;
}

// What a dynamically linked program needs from the host inside the scratch
// root. Directories are bind-mounted; links (/lib -> usr/lib) are copied as links.
const char* const kHostSystemPaths[] = {"/usr", "/lib", "/lib64", "/lib32", "/libx32", "/bin", "/sbin", "/etc"};
const char* const kChrootedBinary = "/.installer";

}  // namespace

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
  if (!routerPath.empty() && routerPath[0] == '/') return path_ + routerPath;
  return path_ + "/" + routerPath;
}

void ScratchRoot::write(const std::string& routerPath, const std::string& content, unsigned mode) {
  std::string file = host(routerPath);
  makeDirectories(file.substr(0, file.rfind('/')));
  ::unlink(file.c_str());  // a link is replaced, never written through
  std::ofstream out(file, std::ios::binary);
  if (!(out << content).flush()) ADD_FAILURE() << "write " << file << ": " << std::strerror(errno);
  ::chmod(file.c_str(), mode);
}

std::string ScratchRoot::read(const std::string& routerPath) const { return readFile(host(routerPath)); }

bool ScratchRoot::exists(const std::string& routerPath) const {
  struct stat st;
  return ::lstat(host(routerPath).c_str(), &st) == 0;
}

void ScratchRoot::remove(const std::string& routerPath) { removeTree(host(routerPath)); }

namespace {
std::vector<std::string>* gListing = nullptr;
size_t gListingPrefix = 0;
int collectEntry(const char* path, const struct stat*, int type, struct FTW*) {
  if (type != FTW_D && type != FTW_DNR && std::strlen(path) > gListingPrefix)
    gListing->push_back(path + gListingPrefix);
  return 0;
}
}  // namespace

std::vector<std::string> ScratchRoot::list(const std::string& routerDir) const {
  std::vector<std::string> entries;
  std::string dir = host(routerDir);
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  gListing = &entries;
  gListingPrefix = dir.size() + 1;
  ::nftw(dir.c_str(), collectEntry, 32, FTW_PHYS);
  gListing = nullptr;
  std::sort(entries.begin(), entries.end());
  return entries;
}

RunResult ScratchRoot::run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                           const std::string& stdinData) const {
  std::vector<std::string> argv = {INSTALLER_BINARY, "-r", path_};
  argv.insert(argv.end(), args.begin(), args.end());
  return runWith(argv, env, stdinData, nullptr);
}

RunResult ScratchRoot::runChrooted(const std::vector<std::string>& args,
                                   const std::map<std::string, std::string>& env, const std::string& stdinData,
                                   const std::vector<std::string>& wrapper) const {
  // The mount points are made here, in the parent, and removed again after
  // the run; the mounts themselves live only in the child's namespace.
  std::vector<std::string> madeDirs, madeFiles;
  std::vector<std::string> mounts;
  for (const char* system : kHostSystemPaths) {
    struct stat st;
    if (::lstat(system, &st) != 0 || exists(system)) continue;
    std::string target = host(system);
    if (S_ISLNK(st.st_mode)) {
      char link[4096];
      ssize_t n = ::readlink(system, link, sizeof(link) - 1);
      if (n <= 0) continue;
      link[n] = '\0';
      if (::symlink(link, target.c_str()) == 0) madeFiles.push_back(target);
    } else if (S_ISDIR(st.st_mode)) {
      if (::mkdir(target.c_str(), 0755) == 0) {
        madeDirs.push_back(target);
        mounts.push_back(system);
      }
    }
  }
  std::string binary = host(kChrootedBinary);
  int fd = ::open(binary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0755);
  if (fd >= 0) {
    ::close(fd);
    madeFiles.push_back(binary);
  }

  std::string root = path_;
  auto prepare = [&]() {
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_PRIVATE | MS_REC, nullptr) != 0) {
      std::perror("mount namespace");
      return false;
    }
    for (const std::string& system : mounts) {
      // Read-only, so nothing a run does can reach the host's own system.
      std::string target = root + system;
      if (::mount(system.c_str(), target.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0 ||
          ::mount(nullptr, target.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
        std::perror(("bind " + system).c_str());
        return false;
      }
    }
    if (::mount(INSTALLER_BINARY, (root + kChrootedBinary).c_str(), nullptr, MS_BIND, nullptr) != 0) {
      std::perror("bind installer");
      return false;
    }
    if (::chroot(root.c_str()) != 0 || ::chdir("/") != 0) {
      std::perror("chroot");
      return false;
    }
    return true;
  };
  std::vector<std::string> argv = wrapper;
  argv.push_back(kChrootedBinary);
  argv.insert(argv.end(), args.begin(), args.end());
  RunResult result = runWith(argv, env, stdinData, prepare);

  for (const std::string& file : madeFiles) ::unlink(file.c_str());
  for (const std::string& dir : madeDirs) ::rmdir(dir.c_str());  // empty again once the namespace is gone
  return result;
}

bool ScratchRoot::runInside(const std::function<void()>& fn) const { return runIsolated(fn, {}, path_); }

bool runIsolated(const std::function<void()>& fn, const std::vector<std::pair<std::string, std::string>>& tmpfs,
                 const std::string& chrootTo) {
  std::cout.flush();
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) {
    ADD_FAILURE() << "fork: " << std::strerror(errno);
    return false;
  }
  if (pid == 0) {
    bool ready = ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    if (!ready) ADD_FAILURE() << "cannot make a private mount namespace";
    for (const auto& [hostPath, size] : tmpfs) {
      ::mkdir(hostPath.c_str(), 0755);
      if (ready && ::mount("tmpfs", hostPath.c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0) {
        ADD_FAILURE() << "cannot mount tmpfs on " << hostPath;
        ready = false;
      }
    }
    if (ready && !chrootTo.empty() && (::chroot(chrootTo.c_str()) != 0 || ::chdir("/") != 0)) {
      ADD_FAILURE() << "cannot change root to " << chrootTo;
      ready = false;
    }
    if (ready) fn();
    std::cout.flush();
    std::fflush(nullptr);
    ::_exit(::testing::Test::HasFailure() ? 1 : 0);  // the parent's gtest state is not the child's to tear down
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

RunResult runProgram(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                     const std::string& stdinData) {
  return runWith(argv, env, stdinData, nullptr);
}
