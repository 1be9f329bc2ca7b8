#include "stand_ins/engine/scenario.h"

#include <charconv>

namespace stand_in {
namespace {

constexpr int64_t kDefaultCallTimeoutMs = 30000;
constexpr int64_t kDefaultStageTimeoutMs = 20000;
constexpr int64_t kDefaultVisibleTimeoutMs = 10000;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (IsBlank(text.front()) || text.front() == '\r')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (IsBlank(text.back()) || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

// Splits off the first blank-separated word of `rest`.
std::string_view NextWord(std::string_view* rest) {
  *rest = TrimBlanks(*rest);
  size_t end = 0;
  while (end < rest->size() && !IsBlank((*rest)[end])) ++end;
  std::string_view word = rest->substr(0, end);
  rest->remove_prefix(end);
  *rest = TrimBlanks(*rest);
  return word;
}

bool ParseMs(std::string_view word, int64_t* ms) {
  if (word.empty()) return false;
  const auto [end, error] =
      std::from_chars(word.data(), word.data() + word.size(), *ms);
  return error == std::errc() && end == word.data() + word.size() && *ms >= 0;
}

// Reads an optional millisecond count that must be the last word.
bool ParseOptionalMs(std::string_view rest, int64_t fallback, int64_t* ms) {
  if (rest.empty()) {
    *ms = fallback;
    return true;
  }
  std::string_view word = NextWord(&rest);
  return rest.empty() && ParseMs(word, ms);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHex(std::string_view text, std::vector<uint8_t>* bytes) {
  std::string digits;
  for (char c : text) {
    if (IsBlank(c)) continue;
    if (HexDigit(c) < 0) return false;
    digits += c;
  }
  if (digits.size() % 2 != 0) return false;
  for (size_t i = 0; i < digits.size(); i += 2) {
    bytes->push_back(static_cast<uint8_t>(HexDigit(digits[i]) * 16 +
                                          HexDigit(digits[i + 1])));
  }
  return true;
}

bool ParseLine(std::string_view rest, ScenarioStep* step) {
  const std::string_view verb = NextWord(&rest);
  if (verb == "channel") {
    step->kind = StepKind::kChannel;
    step->name = std::string(NextWord(&rest));
    return !step->name.empty() && rest.empty();
  }
  if (verb == "call" || verb == "send") {
    step->kind = verb == "call" ? StepKind::kCall : StepKind::kSend;
    step->name = std::string(NextWord(&rest));
    step->json = std::string(rest);
    step->ms = kDefaultCallTimeoutMs;
    return !step->name.empty();
  }
  if (verb == "raw") {
    step->kind = StepKind::kRaw;
    return ParseHex(rest, &step->bytes);
  }
  if (verb == "wait_reply") {
    step->kind = StepKind::kWaitReply;
    return ParseOptionalMs(rest, kDefaultCallTimeoutMs, &step->ms);
  }
  if (verb == "wait_stage") {
    step->kind = StepKind::kWaitStage;
    step->name = std::string(NextWord(&rest));
    return !step->name.empty() &&
           ParseOptionalMs(rest, kDefaultStageTimeoutMs, &step->ms);
  }
  if (verb == "wait_visible") {
    step->kind = StepKind::kWaitVisible;
    return ParseOptionalMs(rest, kDefaultVisibleTimeoutMs, &step->ms);
  }
  if (verb == "sleep") {
    step->kind = StepKind::kSleep;
    const std::string_view word = NextWord(&rest);
    return rest.empty() && ParseMs(word, &step->ms);
  }
  if (verb == "close") {
    step->kind = StepKind::kClose;
    return rest.empty();
  }
  return false;
}

}  // namespace

bool ParseScenario(std::string_view text, std::vector<ScenarioStep>* steps,
                   std::string* error) {
  steps->clear();
  int line_number = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++line_number;
    line = TrimBlanks(line);
    if (line.empty() || line.front() == '#') continue;
    ScenarioStep step;
    step.line = line_number;
    step.text = std::string(line);
    if (!ParseLine(line, &step)) {
      *error = "line " + std::to_string(line_number) + ": cannot read \"" +
               step.text + "\"";
      return false;
    }
    steps->push_back(std::move(step));
  }
  return true;
}

}  // namespace stand_in
