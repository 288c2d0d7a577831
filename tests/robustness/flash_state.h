// What the robustness tests compare: the whole state of a scratch router
// root (files with their bytes, links with their text, folders), taken as a
// snapshot, compared, and put back between runs so one root serves many.
#pragma once
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/scratch_root.h"

namespace robust {


// Router path -> "f:<bytes>", "l:<link text>" or "d". The post-install log
// is left out: every run rewrites it, by design.
using State = std::map<std::string, std::string>;

State snapshot(const ScratchRoot& root);
// Makes the root hold exactly state again, below the given top folders.
void restore(const ScratchRoot& root, const State& state,
             const std::vector<std::string>& tops = {"/flash", "/ram", "/rw", "/tmp"});
// The paths whose entries differ, with "+" (only in after), "-" (only in
// before) or "~" (changed) in front; at most limit of them.
std::vector<std::string> differences(const State& before, const State& after, size_t limit = 20);

// Runs "installer -r ROOT args..." under a time limit: a run that outlives
// it is stopped and gets status 124, as timeout(1) reports it. A wrapper (a
// program and its options, strace say) runs the installer.
RunResult runBounded(const ScratchRoot& root, const std::vector<std::string>& args,
                     const std::string& stdinData = "", int seconds = 60, const std::vector<std::string>& wrapper = {});

// A crash, a hang or a sanitizer report.
bool isAbnormal(const RunResult& run);
// Lines of the run's plain output that begin with "ERROR: ".
int errorLines(const RunResult& run);

// The number of offsets a sweep over size bytes visits: all when the
// environment variable INSTALLER_FULL_SWEEP is set, otherwise every
// stride-th (offset 0 and the last offset always included).
std::vector<size_t> sweepOffsets(size_t size, size_t stride);



namespace detail {

inline std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void walk(const std::string& host, const std::string& router, State& state) {
  DIR* dir = ::opendir(host.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string hostPath = host + "/" + name, routerPath = router + "/" + name;
    struct stat st;
    if (::lstat(hostPath.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      state[routerPath] = "d";
      walk(hostPath, routerPath, state);
    } else if (S_ISLNK(st.st_mode)) {
      char text[4096];
      ssize_t n = ::readlink(hostPath.c_str(), text, sizeof text);
      state[routerPath] = "l:" + std::string(text, n > 0 ? static_cast<size_t>(n) : 0);
    } else if (routerPath != "/flash/postlog") {
      state[routerPath] = "f:" + readAll(hostPath);
    }
  }
  ::closedir(dir);
}

inline void removeBelow(const std::string& host) {
  DIR* dir = ::opendir(host.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = host + "/" + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      removeBelow(path);
      ::rmdir(path.c_str());
    } else {
      ::unlink(path.c_str());
    }
  }
  ::closedir(dir);
}

}  // namespace detail

inline State snapshot(const ScratchRoot& root) {
  State state;
  for (const char* top : {"/flash", "/ram", "/rw", "/tmp"}) detail::walk(root.host(top), top, state);
  return state;
}

inline void restore(const ScratchRoot& root, const State& state, const std::vector<std::string>& tops) {
  for (const std::string& top : tops) detail::removeBelow(root.host(top));
  for (const auto& [path, entry] : state) {  // a folder sorts before what it holds
    bool below = false;
    for (const std::string& top : tops) below = below || path.compare(0, top.size() + 1, top + "/") == 0;
    if (!below) continue;
    const std::string host = root.host(path);
    if (entry == "d") {
      ::mkdir(host.c_str(), 0755);
    } else if (entry.compare(0, 2, "l:") == 0) {
      if (::symlink(entry.c_str() + 2, host.c_str()) != 0) ADD_FAILURE() << "symlink " << host;
    } else {
      std::ofstream(host, std::ios::binary) << entry.substr(2);
    }
  }
}

inline std::vector<std::string> differences(const State& before, const State& after, size_t limit) {
  std::vector<std::string> out;
  auto b = before.begin();
  auto a = after.begin();
  while ((b != before.end() || a != after.end()) && out.size() < limit) {
    if (a == after.end() || (b != before.end() && b->first < a->first)) {
      out.push_back("-" + (b++)->first);
    } else if (b == before.end() || a->first < b->first) {
      out.push_back("+" + (a++)->first);
    } else {
      if (a->second != b->second) out.push_back("~" + a->first);
      ++a, ++b;
    }
  }
  return out;
}

inline RunResult runBounded(const ScratchRoot& root, const std::vector<std::string>& args, const std::string& stdinData,
                     int seconds, const std::vector<std::string>& wrapper) {
  std::vector<std::string> argv = {"/usr/bin/timeout", "-k", "5", std::to_string(seconds)};
  argv.insert(argv.end(), wrapper.begin(), wrapper.end());
  argv.insert(argv.end(), {INSTALLER_BINARY, "-r", root.path()});
  argv.insert(argv.end(), args.begin(), args.end());
  return runProgram(argv, {}, stdinData);
}

inline bool isAbnormal(const RunResult& run) {
  return run.status >= 124 || run.status < 0 || run.status == 86 ||
         run.err.find("Sanitizer") != std::string::npos || run.err.find("runtime error") != std::string::npos;
}

inline int errorLines(const RunResult& run) {
  int count = 0;
  std::istringstream lines(run.outPlain);
  for (std::string line; std::getline(lines, line);) count += line.compare(0, 7, "ERROR: ") == 0;
  return count;
}

inline std::vector<size_t> sweepOffsets(size_t size, size_t stride) {
  if (std::getenv("INSTALLER_FULL_SWEEP") != nullptr) stride = 1;
  std::vector<size_t> offsets;
  for (size_t i = 0; i < size; i += stride) offsets.push_back(i);
  if (size > 0 && offsets.back() != size - 1) offsets.push_back(size - 1);
  return offsets;
}

}  // namespace robust
