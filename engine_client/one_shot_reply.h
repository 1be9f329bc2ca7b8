// The engine reply of one incoming method call, sent at most once.
#ifndef ENGINE_CLIENT_ONE_SHOT_REPLY_H_
#define ENGINE_CLIENT_ONE_SHOT_REPLY_H_

#include <cstdint>
#include <vector>

#include "engine_client/binary_messenger.h"

namespace flutter {

// Holds the sink of one message until it has been answered. Not locked: one
// reply must not be delivered from two threads at the same time.
class OneShotReply {
 public:
  // Takes over `reply`, which must not be empty.
  explicit OneShotReply(ReplySink reply);
  // Warns about a leak when the message was never answered; sends nothing.
  ~OneShotReply();

  OneShotReply(const OneShotReply&) = delete;
  OneShotReply& operator=(const OneShotReply&) = delete;

  // Sends `reply` (null or empty means an empty reply) the first time;
  // reports every later call as a duplicate and sends nothing.
  void Deliver(const std::vector<uint8_t>* reply);

  // Returns whether the message still waits for its answer.
  bool is_open() const { return static_cast<bool>(reply_); }

 private:
  ReplySink reply_;
};

}  // namespace flutter

#endif  // ENGINE_CLIENT_ONE_SHOT_REPLY_H_
