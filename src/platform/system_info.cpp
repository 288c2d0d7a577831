#include "platform/system_info.h"

#include <cstdlib>

Version getMinTarnwickVersion() {
  const char* text = std::getenv("minversion");
  if (text == nullptr || *text == '\0') return 0;
  // Only a plain decimal that fits 32 bits counts; anything else sets no minimum.
  uint64_t value = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return 0;
    value = value * 10 + static_cast<uint64_t>(*p - '0');
    if (value > 0xFFFFFFFFu) return 0;
  }
  return static_cast<Version>(value);
}

namespace nv {

ModeRecord tarnwickMode() {
  ModeRecord mode = {{0, 0, 0, 0}};
  const char* flagged = std::getenv("flagged");
  if (flagged != nullptr && std::string(flagged) != "0") mode.bytes[1] = 1;
  return mode;
}

}  // namespace nv

std::string version2string(unsigned version) { return versionText(version); }
