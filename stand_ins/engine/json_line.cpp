#include "stand_ins/engine/json_line.h"

#include <cstdio>

namespace stand_in {
namespace {

// Returns the length of the valid UTF-8 sequence starting at `i`, or 0.
size_t Utf8SequenceLength(std::string_view text, size_t i) {
  const auto byte = [&](size_t k) {
    return static_cast<unsigned char>(text[k]);
  };
  const unsigned char lead = byte(i);
  size_t length = 0;
  uint32_t min = 0;
  uint32_t code = 0;
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, min = 0x80, code = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, min = 0x800, code = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, min = 0x10000, code = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    return 0;
  }
  return length;
}

void AppendEscape(std::string* out, unsigned value) {
  char buffer[8];
  std::snprintf(buffer, sizeof(buffer), "\\u%04x", value);
  out->append(buffer);
}

}  // namespace

JsonLine::JsonLine(std::string_view event) : event_(event) {}

std::string JsonLine::Quote(std::string_view text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t length = Utf8SequenceLength(text, i);
    if (length == 0) {
      AppendEscape(&out, c);
      ++i;
      continue;
    }
    if (length > 1) {
      out.append(text.substr(i, length));
      i += length;
      continue;
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          AppendEscape(&out, c);
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  out += '"';
  return out;
}

JsonLine& JsonLine::Key(std::string_view key) {
  fields_ += ',';
  fields_ += Quote(key);
  fields_ += ':';
  return *this;
}

JsonLine& JsonLine::Str(std::string_view key, std::string_view value) {
  Key(key);
  fields_ += Quote(value);
  return *this;
}

JsonLine& JsonLine::OptStr(std::string_view key,
                           const std::optional<std::string>& value) {
  return value ? Str(key, *value) : Null(key);
}

JsonLine& JsonLine::Int(std::string_view key, int64_t value) {
  Key(key);
  fields_ += std::to_string(value);
  return *this;
}

JsonLine& JsonLine::Bool(std::string_view key, bool value) {
  Key(key);
  fields_ += value ? "true" : "false";
  return *this;
}

JsonLine& JsonLine::Null(std::string_view key) {
  Key(key);
  fields_ += "null";
  return *this;
}

JsonLine& JsonLine::Raw(std::string_view key, std::string_view json) {
  Key(key);
  fields_ += json;
  return *this;
}

JsonLine& JsonLine::StrList(std::string_view key,
                            const std::vector<std::string>& values) {
  Key(key);
  fields_ += '[';
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) fields_ += ',';
    fields_ += Quote(values[i]);
  }
  fields_ += ']';
  return *this;
}

}  // namespace stand_in
