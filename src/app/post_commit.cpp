// The platform's post-commit program runs inside the new flash root after a
// committed upgrade; the run waits for it but does not judge it.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>

#include "app/modes.h"

void runPostCommitProgram(const char* root, const char* program, const char* argv0) {
  // The program's output belongs after what this run has printed so far.
  std::cout.flush();
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) return;
  if (child == 0) {
    if (chroot(root) != 0) {
      // Without the new root the program still runs in the old one.
    }
    if (chdir("/") != 0) {
      // exec below reports what matters.
    }
    execl(program, argv0, static_cast<char*>(nullptr));
    _exit(127);  // no clean-up of the parent's state in the child
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}
