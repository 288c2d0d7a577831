// Reads the known-answer files in tests/data: a small JSON reader, enough for
// objects, arrays, strings without escapes, numbers and booleans.
#pragma once
#include <cctype>
#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

struct JsonValue {
  enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
  std::string text;                            // String, Number, Bool ("true"/"false")
  std::vector<JsonValue> items;                // Array
  std::map<std::string, JsonValue> members;    // Object

  const JsonValue& operator[](const std::string& key) const {
    static const JsonValue missing;
    auto it = members.find(key);
    return it == members.end() ? missing : it->second;
  }
  bool isTrue() const { return kind == Bool && text == "true"; }
};

class JsonParser {
 public:
  explicit JsonParser(const std::string& text) : text_(text) {}
  bool parse(JsonValue& out) { return value(out) && (skip(), pos_ == text_.size()); }

 private:
  void skip() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }
  bool string(std::string& out) {
    if (text_[pos_] != '"') return false;
    size_t end = text_.find('"', pos_ + 1);
    if (end == std::string::npos) return false;
    out = text_.substr(pos_ + 1, end - pos_ - 1);
    pos_ = end + 1;
    return true;
  }
  bool value(JsonValue& out) {
    skip();
    if (pos_ >= text_.size()) return false;
    char c = text_[pos_];
    if (c == '"') {
      out.kind = JsonValue::String;
      return string(out.text);
    }
    if (c == '{' || c == '[') {
      bool object = c == '{';
      out.kind = object ? JsonValue::Object : JsonValue::Array;
      ++pos_;
      skip();
      if (text_[pos_] == (object ? '}' : ']')) return ++pos_, true;
      for (;;) {
        skip();
        JsonValue item;
        std::string key;
        if (object) {
          if (!string(key)) return false;
          skip();
          if (text_[pos_++] != ':') return false;
        }
        if (!value(item)) return false;
        if (object) {
          out.members[key] = item;
        } else {
          out.items.push_back(item);
        }
        skip();
        if (text_[pos_] == ',') {
          ++pos_;
          continue;
        }
        return text_[pos_++] == (object ? '}' : ']');
      }
    }
    size_t start = pos_;
    while (pos_ < text_.size() && std::string(",}] \n\r\t").find(text_[pos_]) == std::string::npos) ++pos_;
    out.text = text_.substr(start, pos_ - start);
    out.kind = (out.text == "true" || out.text == "false") ? JsonValue::Bool
               : out.text == "null"                          ? JsonValue::Null
                                                             : JsonValue::Number;
    return !out.text.empty();
  }

  const std::string& text_;
  size_t pos_ = 0;
};

inline bool loadVectorFile(const std::string& name, JsonValue& out) {
  std::ifstream in(std::string(INSTALLER_SOURCE_DIR) + "/tests/data/" + name);
  std::stringstream buffer;
  buffer << in.rdbuf();
  std::string text = buffer.str();
  return !text.empty() && JsonParser(text).parse(out);
}

inline std::vector<uint8_t> fromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

inline std::string toHex(const uint8_t* data, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += digits[data[i] >> 4];
    out += digits[data[i] & 15];
  }
  return out;
}
