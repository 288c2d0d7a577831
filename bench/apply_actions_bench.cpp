// Times applyActions on synthetic installed sets of 100, 1,000 and 5,000
// packages: chains of dependencies, many shared provisions, a few conflicts,
// some disabled packages and some scheduled actions; then the same sets with
// every package disabled and scheduled for enable (the largest enable list);
// then with every package but the last scheduled for uninstall, each sharing
// half of its ten files with the next package (the ownership index at work:
// a file goes only with the last package that lists it).
//
// The engine stages real paths, so the run happens in a child chrooted to a
// scratch folder holding the database directories; the machine's own "/flash"
// is never touched. Usage: apply_actions_bench [sizes...]
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "model/package.h"
#include "repo/repository.h"
#include "resolve/action_engine.h"
#include "staging/staged_changes.h"

namespace {

constexpr int kChain = 50;  // packages per dependency chain

Relation relation(const std::string& name, int32_t priority = 0) {
  Relation r;
  r.name = name;
  r.priority = priority;
  return r;
}

std::string nameOf(int i) {
  std::string name = std::to_string(i);
  name.insert(name.begin(), 'p');  // not "p" + ...: GCC 12 warns falsely about that at -O3
  return name;
}

// Chains of kChain packages, each needing the next one (dependents before
// their providers: the order that makes rescans after a change costly).
// Every tenth chain ends in a missing dependency, so the whole chain goes;
// in others the head is disabled and part of it is scheduled.
enum class Mode { Mixed, EnableAll, UninstallAll };

void fillRepository(Repository& repository, int count, Mode mode) {
  repository.reset();
  repository.quiet = true;
  for (int i = 0; i < count; ++i) {
    const int chain = i / kChain;
    const int position = i % kChain;
    const bool last = position == kChain - 1 || i == count - 1;
    auto package = std::make_unique<Package>(nameOf(i));
    package->version = makeVersion(1, 0, Final, 0);
    package->buildTime = 1000 + i;
    if (!last) package->dependencies.push_back(relation(nameOf(i + 1)));
    if (last && chain % 10 == 1) package->dependencies.push_back(relation("missing"));
    if (i % 3 == 0) package->dependencies.push_back(relation("feature" + std::to_string(i % 97)));
    package->provides.push_back(relation("feature" + std::to_string((i * 7) % 97)));
    package->provides.push_back(relation("service" + std::to_string(i % 13)));
    package->provides.push_back(relation("api" + std::to_string(i)));
    if (i % 500 == 250) package->conflicts.push_back(relation(nameOf(i + 7)));
    if (mode == Mode::UninstallAll) {
      // Files 5 to 9 of a package are files 0 to 4 of the next one.
      for (int f = 0; f < 10; ++f) package->files.insert("/flash/bin/f" + std::to_string(i * 5 + f));
    } else {
      for (int f = 0; f < 3; ++f) package->files.insert("/flash/bin/" + nameOf(i) + "." + std::to_string(f));
    }
    if (chain % 10 == 0) {
      package->disabled = position < 10;
      if (position == 10) package->action = PendingAction::Disable;
      if (position == 5) package->action = PendingAction::Enable;
    }
    if (chain % 10 == 8 && position == 0) package->action = PendingAction::Uninstall;
    if (mode == Mode::EnableAll) {
      package->disabled = true;
      package->action = PendingAction::Enable;
    }
    if (mode == Mode::UninstallAll) {
      package->disabled = false;
      package->dependencies.clear();
      package->action = last && i == count - 1 ? PendingAction::None : PendingAction::Uninstall;
    }
    repository.packages.push_back(std::move(package));
  }
}

// Best of a few runs, in milliseconds.
double timeRun(int count, Mode mode, size_t* stagedCount, size_t* remaining) {
  Repository& repository = Repository::instance();
  double best = 1e30;
  for (int round = 0; round < 3; ++round) {
    fillRepository(repository, count, mode);
    StagedChanges staged;
    auto start = std::chrono::steady_clock::now();
    applyActions(repository, 1, staged);
    auto end = std::chrono::steady_clock::now();
    double ms = std::chrono::duration<double, std::milli>(end - start).count();
    if (ms < best) best = ms;
    *stagedCount = staged.size();
    *remaining = repository.packages.size();
    discardChanges(staged);
  }
  return best;
}

void makeDatabase(const std::string& root, int count) {
  const std::string flash = root + "/flash";
  mkdir(flash.c_str(), 0755);
  mkdir((flash + "/var").c_str(), 0755);
  mkdir((flash + "/var/pdb").c_str(), 0755);
  mkdir((root + "/ram").c_str(), 0755);
  mkdir((flash + "/bin").c_str(), 0755);
  for (int i = 0; i < count; ++i) mkdir((flash + "/var/pdb/" + nameOf(i)).c_str(), 0755);
  // The uninstall set's files exist, so that their removals are staged.
  for (int f = 0; f < count * 5 + 5; ++f) close(creat((flash + "/bin/f" + std::to_string(f)).c_str(), 0644));
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(atoi(argv[i]));
  if (sizes.empty()) sizes = {100, 1000, 5000};
  int largest = 0;
  for (int size : sizes) largest = size > largest ? size : largest;

  char pattern[] = "/tmp/apply-actions-bench.XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string root = pattern;
  makeDatabase(root, largest);

  pid_t child = fork();
  if (child == 0) {
    if (chroot(root.c_str()) != 0 || chdir("/") != 0) {
      std::perror("chroot");
      _exit(1);
    }
    const char* titles[] = {"mixed set:\n", "every package disabled and scheduled for enable:\n",
                            "all but one scheduled for uninstall, half of each one's files shared:\n"};
    for (Mode mode : {Mode::Mixed, Mode::EnableAll, Mode::UninstallAll}) {
      std::printf("%s", titles[static_cast<int>(mode)]);
      double previous = 0;
      int previousSize = 0;
      for (int size : sizes) {
        size_t staged = 0, remaining = 0;
        double ms = timeRun(size, mode, &staged, &remaining);
        std::printf("  applyActions %5d installed: %9.2f ms  (%zu paths staged, %zu packages left)", size, ms,
                    staged, remaining);
        if (previousSize > 0 && previous > 0) {
          std::printf("  x%.1f for x%.1f packages", ms / previous, static_cast<double>(size) / previousSize);
        }
        std::printf("\n");
        previous = ms;
        previousSize = size;
      }
    }
    std::fflush(stdout);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  std::string command = "rm -rf '" + root + "'";
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", root.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
