// A scratch router root for end-to-end tests: the layout of a router's file
// systems in a temporary folder, and runs of the built installer on it.
#pragma once
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct RunResult {
  int status = -1;        // exit status, or 128 + signal
  std::string out;        // standard output as written
  // Standard output as a console would leave it, line by line:
  //  1. every "\e[?25l" and "\e[?25h" (cursor hide/show) is removed;
  //  2. the text is split into lines at "\n" (a last piece without one counts
  //     as a line and stays without one);
  //  3. a line holding "\r" keeps only the text after its last "\r"; when that
  //     is empty or only spaces and tabs, the line and its "\n" are dropped
  //     (a progress line that was erased, or overwritten and never ended);
  //  4. a line without "\r" stays as it is, empty lines included.
  std::string outPlain;
  std::string err;        // standard error
};

class ScratchRoot {
 public:
  // Makes flash/var/pdb, ram, rw/pckg/.download, rw/pckg/.images,
  // flash/rw/pckg, flash/var/pckg and tmp under a fresh folder below the
  // build's test-tmp folder.
  ScratchRoot();
  ~ScratchRoot();  // removes the folder (never following links or crossing mounts)
  ScratchRoot(const ScratchRoot&) = delete;
  ScratchRoot& operator=(const ScratchRoot&) = delete;

  const std::string& path() const { return path_; }
  // Host path of a router path: "/flash/x" -> path() + "/flash/x".
  std::string host(const std::string& routerPath) const;

  // Creates the parent folders; replaces an existing file.
  void write(const std::string& routerPath, const std::string& content, unsigned mode = 0644);
  // The file's bytes; empty when it cannot be read.
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
  // mount namespace chrooted to the scratch root. The host's /usr, /lib*,
  // /bin, /sbin and /etc are bind-mounted read-only for the dynamic loader
  // (links such as /lib -> usr/lib are recreated as links), the binary is
  // mounted as "/.installer"; all of it is gone again after the run. A
  // wrapper (a program of the host's /usr and its options) runs the binary.
  RunResult runChrooted(const std::vector<std::string>& args,
                        const std::map<std::string, std::string>& env = {},
                        const std::string& stdinData = "", const std::vector<std::string>& wrapper = {}) const;

  // Runs fn in a child chrooted to the scratch root (runIsolated below).
  bool runInside(const std::function<void()>& fn) const;

 private:
  std::string path_;
};

// Runs any program (argv[0] is its path) with env added to a clean
// environment and stdinData on standard input.
RunResult runProgram(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                     const std::string& stdinData);

// Runs fn in a forked child with a private mount namespace: the tmpfs
// mounts {host path, size} (made when missing), then a change of root to
// chrootTo when given. gtest expectations inside fn count: true when fn
// reported no failure.
bool runIsolated(const std::function<void()>& fn, const std::vector<std::pair<std::string, std::string>>& tmpfs = {},
                 const std::string& chrootTo = "");

// Host paths.
std::string readFile(const std::string& path);  // empty when it cannot be read
// Removes a file, link or folder tree, depth first, never following links
// and never leaving the folder's file system.
void removeTree(const std::string& path);
