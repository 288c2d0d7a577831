#include "model/version.h"

#include <cstdio>
#include <cstring>

namespace {

const char* releaseTypeName(unsigned type) {
  switch (type) {
    case Alpha: return "alpha";
    case Beta: return "beta";
    case ReleaseCandidate: return "rc";
    default: return "";
  }
}

// Reads a decimal number of 1 to 3 digits that fits a byte. Leading zeros are
// refused so that every accepted text is the one versionText would print.
bool parseByte(const char*& p, uint8_t* out) {
  if (*p < '0' || *p > '9') return false;
  if (p[0] == '0' && p[1] >= '0' && p[1] <= '9') return false;
  unsigned value = 0;
  int digits = 0;
  while (*p >= '0' && *p <= '9') {
    if (++digits > 3) return false;
    value = value * 10 + static_cast<unsigned>(*p - '0');
    ++p;
  }
  if (value > 255) return false;
  *out = static_cast<uint8_t>(value);
  return true;
}

}  // namespace

std::string versionText(Version version) {
  unsigned major = version >> 24;
  unsigned minor = (version >> 16) & 0xFF;
  unsigned type = (version >> 8) & 0xFF;
  unsigned patch = version & 0xFF;
  char buffer[48];
  if (type == Final) {
    if (patch != 0)
      std::snprintf(buffer, sizeof(buffer), "%u.%u.%u", major, minor, patch);
    else
      std::snprintf(buffer, sizeof(buffer), "%u.%u", major, minor);
  } else {
    const char* name = releaseTypeName(type);
    if (patch != 0)
      std::snprintf(buffer, sizeof(buffer), "%u.%u%s%u", major, minor, name, patch);
    else
      std::snprintf(buffer, sizeof(buffer), "%u.%u%s", major, minor, name);
  }
  return buffer;
}

bool parseVersionText(const std::string& text, Version* version) {
  if (std::memchr(text.data(), '\0', text.size()) != nullptr) return false;
  const char* p = text.c_str();
  uint8_t major, minor, patch = 0;
  uint8_t type = Final;
  if (!parseByte(p, &major) || *p++ != '.' || !parseByte(p, &minor)) return false;
  if (*p == '.') {
    ++p;
    if (!parseByte(p, &patch) || patch == 0) return false;  // "6.46.0" is written "6.46"
  } else if (*p != '\0') {
    static const struct { const char* name; uint8_t type; } kNamed[] = {
        {"alpha", Alpha}, {"beta", Beta}, {"rc", ReleaseCandidate}};
    bool named = false;
    for (const auto& entry : kNamed) {
      size_t length = std::strlen(entry.name);
      if (std::strncmp(p, entry.name, length) == 0) {
        p += length;
        type = entry.type;
        named = true;
        break;
      }
    }
    if (!named) return false;
    if (*p != '\0' && (!parseByte(p, &patch) || patch == 0)) return false;
  }
  if (*p != '\0') return false;
  *version = makeVersion(major, minor, type, patch);
  return true;
}
