// A router's file systems in a temporary folder, and runs of the built installer on it.
#pragma once
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct RunResult {
  int status = -1;        // exit status, or 128 + signal
  std::string out;        // standard output as written
  std::string outPlain;   // as a console shows it: no cursor codes, only the text after a line's last "\r"
  std::string err;        // standard error
};

class ScratchRoot {
 public:
  // A fresh folder below the build's test-tmp folder with the router's folders.
  ScratchRoot();
  ~ScratchRoot();  // removes the folder (never following links or crossing mounts)
  ScratchRoot(const ScratchRoot&) = delete;
  ScratchRoot& operator=(const ScratchRoot&) = delete;

  const std::string& path() const { return path_; }
  std::string host(const std::string& routerPath) const;

  // Creates the parent folders; replaces an existing file.
  void write(const std::string& routerPath, const std::string& content, unsigned mode = 0644);
  std::string read(const std::string& routerPath) const;
  bool exists(const std::string& routerPath) const;
  void remove(const std::string& routerPath) const;

  // Runs "installer -r ROOT args..." with env added to a clean environment (PATH only).
  RunResult run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {},
                const std::string& stdinData = "") const;
  // Runs the installer without "-r" chrooted to the scratch root in a private mount namespace (the
  // host's system folders bound read-only), under wrapper (a program of the host's /usr) when given.
  RunResult runChrooted(const std::vector<std::string>& args,
                        const std::map<std::string, std::string>& env = {},
                        const std::string& stdinData = "", const std::vector<std::string>& wrapper = {}) const;

  // Runs fn in a child chrooted to the scratch root (runIsolated below).
  bool runInside(const std::function<void()>& fn) const;

 private:
  std::string path_;
};

// Runs argv[0] with env added to PATH only; prepare runs in the child before the exec (false: status 126).
RunResult runProgram(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {},
                     const std::string& stdinData = "", const std::function<bool()>& prepare = nullptr);

// Runs fn in a child with its own mounts: tmpfs {host path, size}, a chroot if given. True: fn failed nothing.
bool runIsolated(const std::function<void()>& fn, const std::vector<std::pair<std::string, std::string>>& tmpfs = {},
                 const std::string& chrootTo = "");

std::string readFile(const std::string& path);  // host path; empty when it cannot be read
