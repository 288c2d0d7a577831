#include "staging/spinner.h"

#include <sys/times.h>

#include <cstdio>

namespace {

constexpr char kSpinnerChars[] = "|/-\\";
constexpr clock_t kTicksPerTurn = 20;

int spinnerIndex = 0;
bool spinnerTurned = false;
clock_t spinnerLastTurn = 0;

clock_t now() {
  struct tms unused;
  return times(&unused);
}

}  // namespace

void spinnerStep() {
  clock_t t = now();
  if (!spinnerTurned) {
    std::fputc(kSpinnerChars[spinnerIndex], stdout);
    std::fflush(stdout);
    spinnerIndex = (spinnerIndex + 1) % 4;
    spinnerTurned = true;
    spinnerLastTurn = t;
    return;
  }
  // Unsigned, so a tick counter that wraps still gives a small difference.
  unsigned long elapsed = static_cast<unsigned long>(t) - static_cast<unsigned long>(spinnerLastTurn);
  if (elapsed <= static_cast<unsigned long>(kTicksPerTurn)) return;
  spinnerLastTurn += kTicksPerTurn;
  std::fputc('\b', stdout);
  std::fputc(kSpinnerChars[spinnerIndex], stdout);
  std::fflush(stdout);
  spinnerIndex = (spinnerIndex + 1) % 4;
}
