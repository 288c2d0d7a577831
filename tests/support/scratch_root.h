// A scratch router root for end-to-end tests: the layout of a router's file
// systems in a temporary folder, and runs of the built installer on it.
#pragma once
#include <functional>
#include <map>
#include <string>
#include <vector>

struct RunResult {
  int status = -1;        // exit status, or 128 + signal
  std::string out;        // standard output as written
  std::string outPlain;   // standard output with progress-line sequences and \r-overwritten text removed
  std::string err;        // standard error
};

class ScratchRoot {
 public:
  // Makes flash/var/pdb, ram, rw/pckg/.download, rw/pckg/.images,
  // flash/rw/pckg, flash/var/pckg under a fresh temporary folder.
  ScratchRoot();
  ~ScratchRoot();  // removes the folder
  ScratchRoot(const ScratchRoot&) = delete;
  ScratchRoot& operator=(const ScratchRoot&) = delete;

  const std::string& path() const { return path_; }
  // Host path of a router path: "/flash/x" -> path() + "/flash/x".
  std::string host(const std::string& routerPath) const;

  void write(const std::string& routerPath, const std::string& content, unsigned mode = 0644);
  std::string read(const std::string& routerPath) const;
  bool exists(const std::string& routerPath) const;
  void remove(const std::string& routerPath);
  // Every path below routerDir (files and links, relative, sorted).
  std::vector<std::string> list(const std::string& routerDir) const;

  // Runs "installer -r ROOT args..." with env added to a clean environment
  // (PATH only) and stdinData on standard input.
  RunResult run(const std::vector<std::string>& args,
                const std::map<std::string, std::string>& env = {},
                const std::string& stdinData = "") const;
  // Runs the installer without "-r" (for --commit/--cancel) inside a private
  // mount namespace chrooted to the scratch root.
  RunResult runChrooted(const std::vector<std::string>& args,
                        const std::map<std::string, std::string>& env = {},
                        const std::string& stdinData = "") const;

  // Runs fn in a child process chrooted to the scratch root; gtest
  // expectations inside fn count. Returns true when fn reported no failure.
  bool runInside(const std::function<void()>& fn) const;

 private:
  std::string path_;
};

// Runs any program with arguments, environment and standard input.
RunResult runProgram(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                     const std::string& stdinData, const std::string& chrootTo = "");
