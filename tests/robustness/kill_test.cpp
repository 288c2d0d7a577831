// The installer killed (SIGKILL) at random moments of a large upgrade run.
// Not part of the normal suite (it takes a few minutes); run it with
//   INSTALLER_KILL_RUNS=300 build/<dir>/tests/test_robustness --gtest_filter='Kill*'
//
// Each kill leaves one of three states, told apart by comparing flash with
// the state before the run and with the state a complete run leaves:
//  - killed before the commit started: flash holds exactly the old package
//    set, plus the temporaries of the run (listed);
//  - killed after the commit: flash holds exactly the new set;
//  - killed during the commit: a mix. The next run is then started on the
//    same root, and whether it reaches the new set is counted.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <random>

#include "robustness/flash_state.h"
#include "support/fixtures.h"

using namespace fixtures;

namespace {

std::string content(const std::string& seed, size_t size) {
  std::string out;
  while (out.size() < size) out += seed + std::to_string(out.size()) + "\n";
  out.resize(size);
  return out;
}

qpk::PackageSpec largePackage(const std::string& name, const char* versionText, int files) {
  std::vector<qpk::FileEntry> entries;
  for (int i = 0; i < files; ++i)
    entries.push_back(file("/" + name + "/f" + std::to_string(i), content(name + versionText, 2000 + i)));
  qpk::PackageSpec s = spec(name, versionText, entries);
  s.blob = content("blob", 4000);
  return s;
}

// A temporary of the atomic writer: "tmp" and six characters from mkstemp.
bool isTemporary(const std::string& path) {
  const std::string name = path.substr(path.rfind('/') + 1);
  return name.size() == 9 && name.compare(0, 3, "tmp") == 0;
}

robust::State withoutTemporaries(const robust::State& state, std::vector<std::string>* leftovers) {
  robust::State out;
  for (const auto& [path, entry] : state) {
    if (isTemporary(path)) {
      if (leftovers != nullptr) leftovers->push_back(path);
    } else {
      out[path] = entry;
    }
  }
  return out;
}

// Starts the installer on root and kills it after delay microseconds
// (unless it ended before). Returns whether the kill struck.
bool runAndKill(const ScratchRoot& root, long delayMicroseconds) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int devNull = ::open("/dev/null", O_RDWR);
    ::dup2(devNull, 0);
    ::dup2(devNull, 1);
    ::dup2(devNull, 2);
    ::execl(INSTALLER_BINARY, INSTALLER_BINARY, "-r", root.path().c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const timespec pause{delayMicroseconds / 1000000, (delayMicroseconds % 1000000) * 1000};
  ::nanosleep(&pause, nullptr);
  const bool struck = ::kill(pid, SIGKILL) == 0;
  int status = 0;
  ::waitpid(pid, &status, 0);
  return struck && WIFSIGNALED(status);
}

TEST(KillDuringUpgrade, EveryMomentLeavesTheOldSetTheNewSetOrARecoverableCommit) {
  const char* runsText = std::getenv("INSTALLER_KILL_RUNS");
  if (runsText == nullptr) GTEST_SKIP() << "set INSTALLER_KILL_RUNS to run it";
  const int runs = std::atoi(runsText);

  ScratchRoot root;
  for (const char* name : {"alpha", "beta", "gamma"}) upload(root, std::string(name) + ".qpk", build(largePackage(name, "1.0", 150)));
  ASSERT_EQ(root.run({}).status, 0);
  for (const std::string& name : root.list(kDownload)) root.remove(std::string(kDownload) + name);
  root.remove("/flash/PCKGS_CHANGED");
  for (const char* name : {"alpha", "beta", "gamma"}) upload(root, std::string(name) + ".qpk", build(largePackage(name, "2.0", 150)));
  const robust::State before = robust::snapshot(root);

  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(robust::runBounded(root, {}).status, 0);
  const long duration =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
  const robust::State after = withoutTemporaries(robust::snapshot(root), nullptr);
  const robust::State oldSet = withoutTemporaries(before, nullptr);

  std::mt19937 random(20261206);
  std::map<std::string, int> tally;
  std::map<std::string, int> leftoverPlaces;
  int recovered = 0, mixed = 0;
  for (int i = 0; i < runs; ++i) {
    robust::restore(root, before);
    const long delay = std::uniform_int_distribution<long>(0, duration * 11 / 10)(random);
    if (!runAndKill(root, delay)) {
      ++tally["ended before the kill"];
      continue;
    }
    std::vector<std::string> leftovers;
    const robust::State state = withoutTemporaries(robust::snapshot(root), &leftovers);
    for (const std::string& path : leftovers) ++leftoverPlaces[path.substr(0, path.rfind('/') + 1)];
    if (state == oldSet) {
      ++tally["killed before the commit: old set" + std::string(leftovers.empty() ? "" : ", temporaries left")];
    } else if (state == after) {
      ++tally["killed after the commit: new set" + std::string(leftovers.empty() ? "" : ", temporaries left")];
    } else {
      ++mixed;
      // The next run, with whatever uploads the commit left in place.
      const RunResult next = robust::runBounded(root, {});
      EXPECT_FALSE(robust::isAbnormal(next));
      if (withoutTemporaries(robust::snapshot(root), nullptr) == after) ++recovered;
    }
  }
  std::printf("%d kills over a %ld ms run:\n", runs, duration / 1000);
  for (const auto& [what, count] : tally) std::printf("  %4d %s\n", count, what.c_str());
  std::printf("  %4d killed during the commit: a mix of old and new; the next run reached the new set in %d\n", mixed,
              recovered);
  for (const auto& [place, count] : leftoverPlaces) std::printf("  temporaries left in %s: %d\n", place.c_str(), count);
}

}  // namespace
