// Measures how quickly the window thread handles its messages: posts it a
// timestamped message every 10 ms; the window notes how late each arrives.
#ifndef STAND_INS_ENGINE_RESPONSIVENESS_PROBE_H_
#define STAND_INS_ENGINE_RESPONSIVENESS_PROBE_H_

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "win/windows_api.h"

namespace stand_in {

class ResponsivenessProbe {
 public:
  ResponsivenessProbe() = default;
  ~ResponsivenessProbe();
  ResponsivenessProbe(const ResponsivenessProbe&) = delete;
  ResponsivenessProbe& operator=(const ResponsivenessProbe&) = delete;

  // Starts posting `message` to `window`, with the posting time (a
  // performance-counter value) as the lParam.
  void Start(HWND window, UINT message);

  // Stops posting and waits for the posting thread to end.
  void Stop();

  bool running() const { return thread_.joinable(); }

  // Returns the current performance-counter value.
  static int64_t Now();
  // Returns how many milliseconds after `posted_at` the present moment is.
  static double LatenessMs(int64_t posted_at);

 private:
  void Run(HWND window, UINT message);

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace stand_in

#endif  // STAND_INS_ENGINE_RESPONSIVENESS_PROBE_H_
