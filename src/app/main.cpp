// The entry point: environment, command line, root change, one mode.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "app/command_line.h"
#include "app/modes.h"
#include "repo/repository.h"
#include "resolve/check_candidate.h"
#include "staging/temporary_files.h"

int main(int argc, char** argv) {
  Repository& repository = Repository::instance();
  RunSettings settings;

  // The emulator board has no package system: nothing at all is done there.
  const char* board = std::getenv("board");
  if (board != nullptr && std::strcmp(board, "qemu_p9") == 0) return 0;

  initFlaggedState();

  const CommandLineOutcome outcome = parseCommandLine(argc, argv, &settings, std::cout);
  switch (outcome) {
    case CommandLineOutcome::Usage:
      std::cout << kUsageLine << '\n';
      std::cout.flush();
      return 0;
    case CommandLineOutcome::Commit:
    case CommandLineOutcome::Cancel:
      repository.quiet = settings.quiet;
      settleInterruptedRun();
      if (outcome == CommandLineOutcome::Commit) runCommitMode();
      else runCancelMode();
      removeEmptyTemporaryFolders();
      return 0;
    case CommandLineOutcome::Run:
      break;
  }

  // A root that cannot be entered ends the run: going on would work on the
  // live system's /flash although the caller named another tree.
  if (!settings.root.empty() && ::chroot(settings.root.c_str()) != 0) {
    std::perror("chroot");
    return 1;
  }
  if (::chdir("/") != 0) std::perror("chdir");

  // The listing only reads; every other mode may change flash.
  const char* arch = std::getenv("arch");
  if (settings.show) {
    repository.open(arch != nullptr ? arch : "i386", settings.quiet);
    return runShowMode(repository);
  }
  repository.quiet = settings.quiet;
  settleInterruptedRun();
  repository.open(arch != nullptr ? arch : "i386", settings.quiet);

  int status;
  if (settings.cleanup) {
    status = runCleanupMode(repository);
  } else if (settings.fromStandardInput) {
    status = runStandardInputMode(repository, settings.tolerated);
  } else {
    status = runUpgradeMode(repository, settings.tolerated, settings.commitAtOnce);
  }
  removeEmptyTemporaryFolders();
  return status;
}
