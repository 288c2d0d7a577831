// The known-answer files of tests/data as a tree walked by name; strings, numbers and booleans as text.
#pragma once
#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/fixtures.h"

struct JsonValue {
  std::string text;                          // strings as they are; numbers and booleans as written
  std::vector<JsonValue> items;              // arrays
  std::map<std::string, JsonValue> members;  // objects

  const JsonValue& operator[](const std::string& key) const {
    static const JsonValue missing;
    auto it = members.find(key);
    return it == members.end() ? missing : it->second;
  }
  bool isTrue() const { return text == "true"; }
};

inline JsonValue toValue(const nlohmann::json& json) {
  JsonValue out;
  if (!json.is_structured()) out.text = json.is_string() ? json.get<std::string>() : json.dump();
  for (const auto& [key, item] : json.items()) {
    if (json.is_object()) out.members[key] = toValue(item);
    else if (json.is_array()) out.items.push_back(toValue(item));
  }
  return out;
}

inline bool loadVectorFile(const std::string& name, JsonValue& out) {
  const auto json = nlohmann::json::parse(readFile(std::string(INSTALLER_SOURCE_DIR) + "/tests/data/" + name), nullptr, false);
  if (json.is_discarded()) return false;
  out = toValue(json);
  return true;
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
