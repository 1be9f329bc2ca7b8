#include "stand_ins/engine/scenario_driver.h"

#include <chrono>
#include <optional>
#include <utility>

#include "codec/encodable_value.h"
#include "stand_ins/engine/json_value.h"
#include "stand_ins/engine/transcript.h"
#include "stand_ins/engine/ui_caller.h"
#include "stand_ins/engine/view_controller.h"
#include "win/windows_api.h"

namespace stand_in {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int64_t kFirstFrameTimeoutMs = 10000;
constexpr int64_t kStagePollMs = 100;
// Waits are sliced so that a stop request is noticed quickly.
constexpr int64_t kSliceMs = 20;
constexpr char kTunnelChannel[] = "varn/wintunnel";

bool TalksToApplication(StepKind kind) {
  return kind == StepKind::kCall || kind == StepKind::kSend ||
         kind == StepKind::kRaw || kind == StepKind::kWaitStage;
}

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() -
                                                               start)
      .count();
}

}  // namespace

ScenarioDriver::ScenarioDriver(std::vector<ScenarioStep> steps,
                               std::string path, UiCaller* caller,
                               ViewController* view)
    : steps_(std::move(steps)),
      path_(std::move(path)),
      caller_(caller),
      view_(view) {}

ScenarioDriver::~ScenarioDriver() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  // Stopped early (the window closed by other means): still report.
  FinishProbe();
}

void ScenarioDriver::Start() {
  thread_ = std::thread([this] { Run(); });
}

bool ScenarioDriver::stopping() {
  std::lock_guard<std::mutex> lock(mutex_);
  return stopping_;
}

bool ScenarioDriver::Pause(int64_t ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !wake_.wait_for(lock, std::chrono::milliseconds(ms),
                         [this] { return stopping_; });
}

void ScenarioDriver::RecordTimeout(const ScenarioStep& step) {
  ++timeouts_;
  Transcript::Get().Write(
      JsonLine("timeout").Int("line", step.line).Str("text", step.text));
}

void ScenarioDriver::Run() {
  Transcript::Get().Write(JsonLine("scenario_start").Str("path", path_));
  const auto start = Clock::now();
  while (view_->frames() < 1 && MsSince(start) < kFirstFrameTimeoutMs) {
    if (!Pause(kSliceMs)) return;
  }
  if (view_->frames() < 1) {
    Transcript::Get().Write(JsonLine("fault")
                                .Str("kind", "scenario")
                                .Str("detail", "no frame was drawn"));
  }
  for (const ScenarioStep& step : steps_) {
    if (stopping()) return;
    Transcript::Get().Write(
        JsonLine("step").Int("line", step.line).Str("text", step.text));
    // The probe measures from the first message to the application on, so
    // the start-up (showing the window, the first paint) does not count.
    if (!probe_started_ && TalksToApplication(step.kind)) {
      probe_started_ = true;
      view_->ResetProbeStats();
      probe_.Start(view_->view_window(), ViewController::kProbeMessage);
    }
    RunStep(step);
  }
  FinishProbe();
  Transcript::Get().Write(JsonLine("scenario_end").Int("timeouts", timeouts_));
}

void ScenarioDriver::FinishProbe() {
  if (probe_reported_) return;
  probe_reported_ = true;
  ViewController::ProbeStats stats;
  if (probe_.running()) {
    probe_.Stop();
    stats = view_->probe_stats();
  }
  Transcript::Get().Write(JsonLine("responsiveness")
                              .Int("max_late_ms", stats.max_late_ms)
                              .Int("samples", stats.samples));
}

void ScenarioDriver::RunStep(const ScenarioStep& step) {
  switch (step.kind) {
    case StepKind::kChannel:
      channel_ = step.name;
      return;
    case StepKind::kCall:
    case StepKind::kSend:
      SendCall(step);
      return;
    case StepKind::kRaw:
      caller_->SendRaw(channel_, step.bytes, "scenario");
      return;
    case StepKind::kWaitReply: {
      const auto start = Clock::now();
      while (!caller_->WaitAll(kSliceMs)) {
        if (stopping()) return;
        if (MsSince(start) >= step.ms) {
          RecordTimeout(step);
          return;
        }
      }
      return;
    }
    case StepKind::kWaitStage:
      WaitForStage(step);
      return;
    case StepKind::kWaitVisible: {
      const auto start = Clock::now();
      while (!view_->NoteIfVisible()) {
        if (MsSince(start) >= step.ms) {
          RecordTimeout(step);
          return;
        }
        if (!Pause(kSliceMs)) return;
      }
      return;
    }
    case StepKind::kSleep:
      Pause(step.ms);
      return;
    case StepKind::kClose: {
      // The probe stops first: once the window is closing, the window thread
      // is busy tearing down and its lateness means nothing.
      FinishProbe();
      HWND top = view_->TopLevelWindow();
      if (top == nullptr) {
        Transcript::Get().Write(
            JsonLine("fault")
                .Str("kind", "scenario")
                .Str("detail", "the view is in no top-level window"));
        return;
      }
      PostMessageW(top, WM_CLOSE, 0, 0);
      Transcript::Get().Write(JsonLine("close_posted"));
      return;
    }
  }
}

void ScenarioDriver::SendCall(const ScenarioStep& step) {
  flutter::EncodableValue arguments;
  if (!step.json.empty() && !ParseJson(step.json, &arguments)) {
    Transcript::Get().Write(
        JsonLine("fault")
            .Str("kind", "scenario")
            .Str("detail", "line " + std::to_string(step.line) +
                               ": the argument is not JSON"));
    return;
  }
  const uint64_t id = caller_->Call(channel_, step.name, arguments, "scenario");
  if (step.kind != StepKind::kCall) return;
  const auto start = Clock::now();
  while (!caller_->WaitFor(id, kSliceMs)) {
    if (stopping()) return;
    if (MsSince(start) >= step.ms) {
      RecordTimeout(step);
      return;
    }
  }
}

void ScenarioDriver::WaitForStage(const ScenarioStep& step) {
  const auto start = Clock::now();
  int polls = 0;
  bool matched = false;
  while (!matched && MsSince(start) < step.ms) {
    const uint64_t id = caller_->Call(kTunnelChannel, "stage",
                                      flutter::EncodableValue(), "wait_stage");
    ++polls;
    std::optional<CallOutcome> outcome;
    while (!(outcome = caller_->WaitFor(id, kSliceMs))) {
      if (stopping()) return;
      if (MsSince(start) >= step.ms) break;
    }
    if (outcome && outcome->kind == "success") {
      const auto* stage = outcome->value.GetIf<std::string>();
      matched = stage != nullptr && *stage == step.name;
    }
    if (!matched && !Pause(kStagePollMs)) return;
  }
  Transcript::Get().Write(JsonLine("wait_stage")
                              .Str("value", step.name)
                              .Bool("ok", matched)
                              .Int("polls", polls)
                              .Int("ms", MsSince(start)));
  if (!matched) RecordTimeout(step);
}

}  // namespace stand_in
