#include "staging/spinner.h"

#include <sys/times.h>

#include <cstdio>

namespace {

constexpr char kSpinnerChars[] = "|/-\\";
constexpr unsigned long kTicksPerTurn = 20;

int spinnerIndex = 0;
bool spinnerTurned = false;
// Kept unsigned: the tick counter is a 32-bit clock_t on the router and
// wraps; unsigned arithmetic wraps with it instead of overflowing.
unsigned long spinnerLastTurn = 0;

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
    spinnerLastTurn = static_cast<unsigned long>(t);
    return;
  }
  // Unsigned, so a tick counter that wraps still gives a small difference.
  unsigned long elapsed = static_cast<unsigned long>(t) - spinnerLastTurn;
  if (elapsed <= kTicksPerTurn) return;
  spinnerLastTurn += kTicksPerTurn;
  std::fputc('\b', stdout);
  std::fputc(kSpinnerChars[spinnerIndex], stdout);
  std::fflush(stdout);
  spinnerIndex = (spinnerIndex + 1) % 4;
}
