// What the robustness tests share beyond the test support: bounded runs of
// the installer, what counts as abnormal, and the offsets a sweep visits.
#pragma once
#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/fixtures.h"

namespace robust {

// Runs "installer -r ROOT args..." under a time limit: a run that outlives
// it is stopped and gets status 124, as timeout(1) reports it. A wrapper (a
// program and its options, strace say) runs the installer.
inline RunResult runBounded(const ScratchRoot& root, const std::vector<std::string>& args,
                            const std::string& stdinData = "", int seconds = 60,
                            const std::vector<std::string>& wrapper = {}) {
  std::vector<std::string> argv = {"/usr/bin/timeout", "-k", "5", std::to_string(seconds)};
  argv.insert(argv.end(), wrapper.begin(), wrapper.end());
  argv.insert(argv.end(), {INSTALLER_BINARY, "-r", root.path()});
  argv.insert(argv.end(), args.begin(), args.end());
  return runProgram(argv, {}, stdinData);
}

// A crash, a hang or a sanitizer report.
inline bool isAbnormal(const RunResult& run) {
  return run.status >= 124 || run.status < 0 || run.status == 86 ||
         run.err.find("Sanitizer") != std::string::npos || run.err.find("runtime error") != std::string::npos;
}

// Lines of the run's plain output that begin with "ERROR: ".
inline int errorLines(const RunResult& run) {
  int count = 0;
  std::istringstream lines(run.outPlain);
  for (std::string line; std::getline(lines, line);) count += line.compare(0, 7, "ERROR: ") == 0;
  return count;
}

// The offsets a sweep over size bytes visits: all when the environment
// variable INSTALLER_FULL_SWEEP is set, otherwise every stride-th (offset 0
// and the last offset always included) and the extra offsets given.
inline std::vector<size_t> sweepOffsets(size_t size, size_t stride, const std::vector<size_t>& extra = {}) {
  if (std::getenv("INSTALLER_FULL_SWEEP") != nullptr) stride = 1;
  std::vector<size_t> offsets;
  for (size_t i = 0; i < size; i += stride) offsets.push_back(i);
  if (size > 0 && offsets.back() != size - 1) offsets.push_back(size - 1);
  for (size_t at : extra)
    if (at < size) offsets.push_back(at);
  std::sort(offsets.begin(), offsets.end());
  offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
  return offsets;
}

}  // namespace robust
