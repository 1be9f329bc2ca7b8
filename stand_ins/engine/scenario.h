// The scenario a stand-in UI plays: parsed from a small line-based script.
#ifndef STAND_INS_ENGINE_SCENARIO_H_
#define STAND_INS_ENGINE_SCENARIO_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace stand_in {

enum class StepKind {
  kChannel,      // channel NAME
  kCall,         // call METHOD [JSON]: send and wait for the reply
  kSend,         // send METHOD [JSON]: send and go on
  kRaw,          // raw HEX: send these bytes as the message
  kWaitReply,    // wait_reply [TIMEOUT_MS]
  kWaitStage,    // wait_stage VALUE [TIMEOUT_MS]
  kWaitVisible,  // wait_visible [TIMEOUT_MS]
  kSleep,        // sleep MS
  kClose,        // close
};

struct ScenarioStep {
  StepKind kind = StepKind::kSleep;
  int line = 0;                // 1-based line in the file
  std::string text;            // the line as written, for the transcript
  std::string name;            // channel, method or stage value
  std::string json;            // JSON argument text; empty means null
  std::vector<uint8_t> bytes;  // raw message bytes
  int64_t ms = 0;              // timeout or pause
};

// Parses a scenario. On a malformed line returns false with `error` naming
// the line; `steps` then holds the steps before it.
bool ParseScenario(std::string_view text, std::vector<ScenarioStep>* steps,
                   std::string* error);

}  // namespace stand_in

#endif  // STAND_INS_ENGINE_SCENARIO_H_
