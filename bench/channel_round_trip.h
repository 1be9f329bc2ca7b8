// One call through the messenger and the method channel to a handler
// that answers at once, against the in-process engine.
#ifndef BENCH_CHANNEL_ROUND_TRIP_H_
#define BENCH_CHANNEL_ROUND_TRIP_H_

#include <cstdint>
#include <vector>

#include "bench/in_process_engine.h"
#include "engine_client/binary_messenger_impl.h"

namespace bench {

// Registers the tunnel channel with a handler that answers "stage" with a
// stage text and "connect" with the busy error, as the real handler does
// while an operation runs.
class ChannelRoundTrip {
 public:
  ChannelRoundTrip();

  // Sends one "stage" call and returns the size of the reply, 0 when there
  // was none.
  size_t RunStage();

  // Sends one "connect" call (600-byte configuration) and returns the size of
  // the reply.
  size_t RunConnect();

 private:
  size_t Run(const std::vector<uint8_t>& message);

  InProcessEngine engine_;
  flutter::BinaryMessengerImpl messenger_;
  std::vector<uint8_t> stage_message_;
  std::vector<uint8_t> connect_message_;
};

}  // namespace bench

#endif  // BENCH_CHANNEL_ROUND_TRIP_H_
