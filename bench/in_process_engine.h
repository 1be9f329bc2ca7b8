// A minimal engine side of the messenger functions for host benchmarks: it
// delivers a message to the registered channel callback on the calling thread
// and keeps the bytes of the response.
#ifndef BENCH_IN_PROCESS_ENGINE_H_
#define BENCH_IN_PROCESS_ENGINE_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine_client/flutter_windows.h"

namespace bench {

// Owns one engine messenger. Single-threaded, like the window thread.
class InProcessEngine {
 public:
  InProcessEngine();
  ~InProcessEngine();

  InProcessEngine(const InProcessEngine&) = delete;
  InProcessEngine& operator=(const InProcessEngine&) = delete;

  // Returns the messenger to hand to the client.
  FlutterDesktopMessengerRef messenger() const { return messenger_; }

  // Sends `message` on `channel` to its registered callback and returns the
  // response bytes; false when no callback is registered or the message was
  // not answered during the callback.
  bool Deliver(const char* channel, const uint8_t* message, size_t size,
               const std::vector<uint8_t>** response);

 private:
  FlutterDesktopMessengerRef messenger_;
};

}  // namespace bench

#endif  // BENCH_IN_PROCESS_ENGINE_H_
