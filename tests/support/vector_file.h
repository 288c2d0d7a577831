// Reads the known-answer files in tests/data: a small JSON reader, enough for
// objects, arrays, strings without escapes, numbers and booleans.
#pragma once
#include <cctype>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/fixtures.h"

struct JsonValue {
  std::string text;                          // strings, numbers, "true"/"false"
  std::vector<JsonValue> items;              // arrays
  std::map<std::string, JsonValue> members;  // objects
  bool isObject = false;

  const JsonValue& operator[](const std::string& key) const {
    static const JsonValue missing;
    auto it = members.find(key);
    return it == members.end() ? missing : it->second;
  }
  bool isTrue() const { return text == "true"; }
};

// Parses the value at text[at]; false on anything it does not know.
inline bool parseJson(const std::string& text, size_t& at, JsonValue& out) {
  auto skip = [&] {
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
  };
  auto string = [&](std::string& s) {
    size_t end = text.find('"', at + 1);
    if (text[at] != '"' || end == std::string::npos) return false;
    s = text.substr(at + 1, end - at - 1);
    at = end + 1;
    return true;
  };
  skip();
  if (at >= text.size()) return false;
  if (text[at] == '"') return string(out.text);
  if (text[at] != '{' && text[at] != '[') {
    size_t start = at;
    while (at < text.size() && std::string(",}] \n\r\t").find(text[at]) == std::string::npos) ++at;
    out.text = text.substr(start, at - start);
    return at > start;
  }
  out.isObject = text[at] == '{';
  const char close = out.isObject ? '}' : ']';
  ++at;
  for (skip(); at < text.size() && text[at] != close; skip()) {
    std::string key;
    JsonValue item;
    if (out.isObject && (!string(key) || (skip(), text[at++] != ':'))) return false;
    if (!parseJson(text, at, item)) return false;
    out.isObject ? (void)(out.members[key] = item) : out.items.push_back(item);
    skip();
    if (text[at] == ',') ++at;
  }
  return text[at++] == close;
}

inline bool loadVectorFile(const std::string& name, JsonValue& out) {
  std::string text = readFile(std::string(INSTALLER_SOURCE_DIR) + "/tests/data/" + name);
  size_t at = 0;
  return !text.empty() && parseJson(text, at, out);
}

inline std::vector<uint8_t> fromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

inline std::string toHex(const uint8_t* data, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) out += std::string{digits[data[i] >> 4], digits[data[i] & 15]};
  return out;
}
