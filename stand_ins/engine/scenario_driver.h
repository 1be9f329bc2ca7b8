// Plays the UI's part from a scenario: makes the calls, waits for answers,
// for a stage, for the window, and finally closes the window.
#ifndef STAND_INS_ENGINE_SCENARIO_DRIVER_H_
#define STAND_INS_ENGINE_SCENARIO_DRIVER_H_

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "stand_ins/engine/responsiveness_probe.h"
#include "stand_ins/engine/scenario.h"

namespace stand_in {

class UiCaller;
class ViewController;

class ScenarioDriver {
 public:
  ScenarioDriver(std::vector<ScenarioStep> steps, std::string path,
                 UiCaller* caller, ViewController* view);
  // Stops the driver and waits for its thread.
  ~ScenarioDriver();
  ScenarioDriver(const ScenarioDriver&) = delete;
  ScenarioDriver& operator=(const ScenarioDriver&) = delete;

  // Runs the steps on a thread of their own, after the first frame.
  void Start();

 private:
  void Run();
  void RunStep(const ScenarioStep& step);
  void SendCall(const ScenarioStep& step);
  void WaitForStage(const ScenarioStep& step);
  // Sleeps up to `ms`; returns false when the driver is being stopped.
  bool Pause(int64_t ms);
  bool stopping();
  void RecordTimeout(const ScenarioStep& step);
  void FinishProbe();

  std::vector<ScenarioStep> steps_;
  std::string path_;
  UiCaller* caller_;
  ViewController* view_;
  std::string channel_ = "varn/wintunnel";
  int timeouts_ = 0;
  ResponsivenessProbe probe_;
  bool probe_started_ = false;
  bool probe_reported_ = false;

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace stand_in

#endif  // STAND_INS_ENGINE_SCENARIO_DRIVER_H_
