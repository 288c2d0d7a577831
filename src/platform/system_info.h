// Stand-ins for the platform's system library. On the router these come from
// the system; here they are driven by environment variables:
//   "minversion": decimal packed Version, the minimum system version (absent or
//                 not a number: 0, no minimum);
//   "flagged":    set and not "0" puts the router in flagged state.
#pragma once
#include <cstdint>
#include <string>

// A sideways include: the stand-ins answer in the program's packed Version and
// print it in the program's own text form.
#include "model/version.h"

Version getMinTarnwickVersion();

namespace nv {
struct ModeRecord {
  uint8_t bytes[4];  // bytes[1] non-zero: flagged state
};
ModeRecord tarnwickMode();
}  // namespace nv

std::string version2string(unsigned version);
