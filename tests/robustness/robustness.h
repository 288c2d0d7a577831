// Bounded runs of the installer, what counts as abnormal, and the offsets a sweep visits.
#pragma once
#include <cstdlib>
#include <set>

#include "support/fixtures.h"

namespace robust {

// Runs "installer -r ROOT args..." under a wrapper (strace, say) and a time limit (status 124).
inline RunResult runBounded(const ScratchRoot& root, const std::vector<std::string>& args,
                            const std::string& stdinData = "", const std::vector<std::string>& wrapper = {}) {
  std::vector<std::string> argv = {"/usr/bin/timeout", "-k", "5", "60"};
  argv.insert(argv.end(), wrapper.begin(), wrapper.end());
  argv.insert(argv.end(), {INSTALLER_BINARY, "-r", root.path()});
  argv.insert(argv.end(), args.begin(), args.end());
  return runProgram(argv, {}, stdinData);
}

inline bool isAbnormal(const RunResult& run) {  // a crash, a hang or a sanitizer report
  return run.status >= 124 || run.status < 0 || run.status == 86 ||
         run.err.find("Sanitizer") != std::string::npos || run.err.find("runtime error") != std::string::npos;
}

inline int errorLines(const RunResult& run) {
  const std::string text = "\n" + run.outPlain;
  int count = 0;
  for (size_t at = text.find("\nERROR: "); at != std::string::npos; at = text.find("\nERROR: ", at + 1)) ++count;
  return count;
}

// Every stride-th of size offsets, the last one and the extra ones; all with INSTALLER_FULL_SWEEP set.
inline std::vector<size_t> sweepOffsets(size_t size, size_t stride, const std::vector<size_t>& extra = {}) {
  if (std::getenv("INSTALLER_FULL_SWEEP") != nullptr) stride = 1;
  std::set<size_t> at(extra.begin(), extra.end());
  for (size_t i = 0; i < size; i += stride) at.insert(i);
  at.insert(size - 1);
  at.erase(at.lower_bound(size), at.end());  // beyond the end, or size 0
  return {at.begin(), at.end()};
}

}  // namespace robust
