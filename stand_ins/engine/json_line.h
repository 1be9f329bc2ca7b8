// Builder for one transcript event: a flat JSON object written as one line.
#ifndef STAND_INS_ENGINE_JSON_LINE_H_
#define STAND_INS_ENGINE_JSON_LINE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace stand_in {

class JsonLine {
 public:
  explicit JsonLine(std::string_view event);

  JsonLine& Str(std::string_view key, std::string_view value);
  // Writes the string, or null when there is none.
  JsonLine& OptStr(std::string_view key,
                   const std::optional<std::string>& value);
  JsonLine& Int(std::string_view key, int64_t value);
  JsonLine& Bool(std::string_view key, bool value);
  JsonLine& Null(std::string_view key);
  // Writes `json` as the value unchanged; it must already be valid JSON.
  JsonLine& Raw(std::string_view key, std::string_view json);
  JsonLine& StrList(std::string_view key,
                    const std::vector<std::string>& values);

  const std::string& event() const { return event_; }
  // The fields after "event" and "t_ms", each preceded by a comma.
  const std::string& fields() const { return fields_; }

  // Returns `text` as a quoted JSON string. Bytes that do not form valid
  // UTF-8 are written as \u00XX each, so every line stays valid JSON.
  static std::string Quote(std::string_view text);

 private:
  JsonLine& Key(std::string_view key);

  std::string event_;
  std::string fields_;
};

}  // namespace stand_in

#endif  // STAND_INS_ENGINE_JSON_LINE_H_
