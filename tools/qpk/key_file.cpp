// Private key files: one line of 64 hexadecimal characters.
#include <cstdio>
#include <fstream>
#include <string>

#include "qpk/package_builder.h"

namespace qpk {

namespace {
int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

bool readKeyFile(const std::string& path, uint8_t out[32], std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = "cannot open key file " + path;
    return false;
  }
  // Read a little more than a key so that an oversized file is noticed
  // without reading it whole.
  char text[130];
  in.read(text, sizeof text);
  std::string line(text, static_cast<size_t>(in.gcount()));
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
    line.pop_back();
  }
  if (line.size() != 64) {
    if (error) *error = "key file " + path + " does not hold one line of 64 hex characters";
    return false;
  }
  for (int i = 0; i < 32; ++i) {
    int hi = hexValue(line[2 * i]);
    int lo = hexValue(line[2 * i + 1]);
    if (hi < 0 || lo < 0) {
      if (error) *error = "key file " + path + " holds a non-hex character";
      return false;
    }
    out[i] = static_cast<uint8_t>(hi * 16 + lo);
  }
  return true;
}

SigningKeys developmentKeys(const std::string& sourceDirectory) {
  SigningKeys keys;
  keys.hasEddsa = readKeyFile(sourceDirectory + "/keys/dev-eddsa.private", keys.eddsaSeed, nullptr);
  keys.hasLegacy =
      readKeyFile(sourceDirectory + "/keys/dev-legacy.private", keys.legacySecret, nullptr);
  return keys;
}

}  // namespace qpk
