#include "stand_ins/engine/json_value.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "stand_ins/engine/json_line.h"

namespace stand_in {
namespace {

using flutter::EncodableValue;

// Nesting beyond this is refused rather than risking the stack.
constexpr int kMaxDepth = 64;

class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : text_(text) {}

  bool ReadDocument(EncodableValue* value) {
    if (!ReadValue(value, 0)) return false;
    SkipBlanks();
    return pos_ == text_.size();
  }

 private:
  void SkipBlanks() {
    while (pos_ < text_.size() &&
           (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n' ||
            text_[pos_] == '\r')) {
      ++pos_;
    }
  }

  bool Consume(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  bool ReadValue(EncodableValue* value, int depth) {
    if (depth > kMaxDepth) return false;
    SkipBlanks();
    if (pos_ >= text_.size()) return false;
    const char c = text_[pos_];
    if (c == 'n') {
      *value = EncodableValue();
      return Consume("null");
    }
    if (c == 't') {
      *value = EncodableValue(true);
      return Consume("true");
    }
    if (c == 'f') {
      *value = EncodableValue(false);
      return Consume("false");
    }
    if (c == '"') {
      std::string text;
      if (!ReadString(&text)) return false;
      *value = EncodableValue(std::move(text));
      return true;
    }
    if (c == '[') return ReadArray(value, depth);
    if (c == '{') return ReadObject(value, depth);
    return ReadNumber(value);
  }

  bool ReadArray(EncodableValue* value, int depth) {
    ++pos_;
    flutter::ValueList list;
    SkipBlanks();
    if (Consume("]")) {
      *value = EncodableValue(std::move(list));
      return true;
    }
    for (;;) {
      EncodableValue item;
      if (!ReadValue(&item, depth + 1)) return false;
      list.push_back(std::move(item));
      SkipBlanks();
      if (Consume("]")) break;
      if (!Consume(",")) return false;
    }
    *value = EncodableValue(std::move(list));
    return true;
  }

  bool ReadObject(EncodableValue* value, int depth) {
    ++pos_;
    flutter::ValueMap map;
    SkipBlanks();
    if (Consume("}")) {
      *value = EncodableValue(std::move(map));
      return true;
    }
    for (;;) {
      SkipBlanks();
      std::string key;
      if (pos_ >= text_.size() || text_[pos_] != '"' || !ReadString(&key)) {
        return false;
      }
      SkipBlanks();
      if (!Consume(":")) return false;
      EncodableValue item;
      if (!ReadValue(&item, depth + 1)) return false;
      map[EncodableValue(std::move(key))] = std::move(item);
      SkipBlanks();
      if (Consume("}")) break;
      if (!Consume(",")) return false;
    }
    *value = EncodableValue(std::move(map));
    return true;
  }

  bool ReadHex4(uint32_t* code) {
    if (pos_ + 4 > text_.size()) return false;
    *code = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[pos_++];
      uint32_t digit = 0;
      if (c >= '0' && c <= '9') {
        digit = static_cast<uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        digit = static_cast<uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        digit = static_cast<uint32_t>(c - 'A' + 10);
      } else {
        return false;
      }
      *code = *code * 16 + digit;
    }
    return true;
  }

  static void AppendUtf8(uint32_t code, std::string* out) {
    if (code < 0x80) {
      *out += static_cast<char>(code);
    } else if (code < 0x800) {
      *out += static_cast<char>(0xC0 | (code >> 6));
      *out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      *out += static_cast<char>(0xE0 | (code >> 12));
      *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      *out += static_cast<char>(0xF0 | (code >> 18));
      *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  bool ReadString(std::string* out) {
    ++pos_;  // opening quote
    while (pos_ < text_.size()) {
      const char c = text_[pos_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        *out += c;
        continue;
      }
      if (pos_ >= text_.size()) return false;
      const char escape = text_[pos_++];
      switch (escape) {
        case '"':
        case '\\':
        case '/':
          *out += escape;
          break;
        case 'b':
          *out += '\b';
          break;
        case 'f':
          *out += '\f';
          break;
        case 'n':
          *out += '\n';
          break;
        case 'r':
          *out += '\r';
          break;
        case 't':
          *out += '\t';
          break;
        case 'u': {
          uint32_t code = 0;
          if (!ReadHex4(&code)) return false;
          if (code >= 0xD800 && code <= 0xDBFF) {
            uint32_t low = 0;
            if (!Consume("\\u") || !ReadHex4(&low) || low < 0xDC00 ||
                low > 0xDFFF) {
              return false;
            }
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          } else if (code >= 0xDC00 && code <= 0xDFFF) {
            return false;
          }
          AppendUtf8(code, out);
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }

  bool ReadNumber(EncodableValue* value) {
    const size_t start = pos_;
    bool is_integer = true;
    if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
    const size_t digits_start = pos_;
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c >= '0' && c <= '9') {
        ++pos_;
      } else if (c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-') {
        is_integer = false;
        ++pos_;
      } else {
        break;
      }
    }
    if (pos_ == digits_start) return false;
    const std::string number(text_.substr(start, pos_ - start));
    if (is_integer) {
      int64_t parsed = 0;
      const auto [end, error] =
          std::from_chars(number.data(), number.data() + number.size(), parsed);
      if (error == std::errc() && end == number.data() + number.size()) {
        if (parsed >= std::numeric_limits<int32_t>::min() &&
            parsed <= std::numeric_limits<int32_t>::max()) {
          *value = EncodableValue(static_cast<int32_t>(parsed));
        } else {
          *value = EncodableValue(parsed);
        }
        return true;
      }
    }
    char* end = nullptr;
    const double parsed = std::strtod(number.c_str(), &end);
    if (end != number.c_str() + number.size()) return false;
    *value = EncodableValue(parsed);
    return true;
  }

  std::string_view text_;
  size_t pos_ = 0;
};

std::string DoubleToJson(double value) {
  if (!std::isfinite(value)) return "null";
  char buffer[32];
  std::snprintf(buffer, sizeof(buffer), "%.17g", value);
  std::string text = buffer;
  // Keep a float recognisable as one after a round trip through JSON.
  if (text.find_first_of(".eE") == std::string::npos) text += ".0";
  return text;
}

template <typename T, typename Format>
std::string ArrayToJson(const std::vector<T>& items, Format format) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ',';
    out += format(items[i]);
  }
  return out + "]";
}

}  // namespace

bool ParseJson(std::string_view text, EncodableValue* value) {
  return JsonReader(text).ReadDocument(value);
}

std::string ToJson(const EncodableValue& value) {
  if (value.IsNull()) return "null";
  if (const bool* b = value.GetIf<bool>()) return *b ? "true" : "false";
  if (const int32_t* i = value.GetIf<int32_t>()) return std::to_string(*i);
  if (const int64_t* i = value.GetIf<int64_t>()) return std::to_string(*i);
  if (const double* d = value.GetIf<double>()) return DoubleToJson(*d);
  if (const std::string* s = value.GetIf<std::string>()) {
    return JsonLine::Quote(*s);
  }
  if (const auto* bytes = value.GetIf<std::vector<uint8_t>>()) {
    return ArrayToJson(*bytes, [](uint8_t b) { return std::to_string(b); });
  }
  if (const auto* ints = value.GetIf<std::vector<int32_t>>()) {
    return ArrayToJson(*ints, [](int32_t v) { return std::to_string(v); });
  }
  if (const auto* longs = value.GetIf<std::vector<int64_t>>()) {
    return ArrayToJson(*longs, [](int64_t v) { return std::to_string(v); });
  }
  if (const auto* doubles = value.GetIf<std::vector<double>>()) {
    return ArrayToJson(*doubles, DoubleToJson);
  }
  if (const auto* floats = value.GetIf<std::vector<float>>()) {
    return ArrayToJson(*floats, [](float v) { return DoubleToJson(v); });
  }
  if (const auto* list = value.GetIf<flutter::ValueList>()) {
    return ArrayToJson(*list,
                       [](const EncodableValue& v) { return ToJson(v); });
  }
  if (const auto* map = value.GetIf<flutter::ValueMap>()) {
    std::string out = "{";
    bool first = true;
    for (const auto& [key, item] : *map) {
      if (!first) out += ',';
      first = false;
      const std::string* name = key.GetIf<std::string>();
      out += JsonLine::Quote(name != nullptr ? *name : ToJson(key));
      out += ':';
      out += ToJson(item);
    }
    return out + "}";
  }
  return "null";
}

}  // namespace stand_in
