// The packed 32-bit version: major, minor, release type, patch (most
// significant first), compared as a plain unsigned integer.
#pragma once
#include <cstdint>
#include <string>

using Version = uint32_t;

enum ReleaseType : uint8_t {
  Alpha = 0x61,
  Beta = 0x62,
  ReleaseCandidate = 0x63,
  Final = 0x66,
};

inline constexpr Version makeVersion(uint8_t major, uint8_t minor, uint8_t type, uint8_t patch) {
  return (static_cast<Version>(major) << 24) | (static_cast<Version>(minor) << 16) |
         (static_cast<Version>(type) << 8) | patch;
}

// "6.46.9", "6.46", "6.46beta3", "6.46rc", "3.22", "6.469" (unnamed type).
std::string versionText(Version version);

// The inverse of versionText for the named release types (a bare "x.y" is final):
// "6.46.9", "6.46", "6.46rc2", "7.1beta4", "6.46alpha". False on anything else.
bool parseVersionText(const std::string& text, Version* version);
