// Byte messaging on named channels between the runner and the UI engine.
#ifndef ENGINE_CLIENT_BINARY_MESSENGER_H_
#define ENGINE_CLIENT_BINARY_MESSENGER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace flutter {

// Answers one message. The pointer may be null when the count is 0.
using ReplySink = std::function<void(const uint8_t* reply, size_t reply_size)>;

// Handles one incoming message; the sink answers it (at most once).
using ByteMessageHandler = std::function<void(
    const uint8_t* message, size_t message_size, ReplySink reply)>;

// Per-channel byte messaging with at most one reply per message.
class BinaryMessenger {
 public:
  virtual ~BinaryMessenger() = default;

  // Sends `message` on `channel`; `reply`, when not empty, receives the
  // answer of the other side.
  virtual void Send(const std::string& channel, const uint8_t* message,
                    size_t message_size, ReplySink reply) const = 0;

  // Installs, replaces or (with an empty handler) removes the handler of
  // `channel`.
  virtual void SetChannelHandler(const std::string& channel,
                                 ByteMessageHandler handler) = 0;
};

}  // namespace flutter

#endif  // ENGINE_CLIENT_BINARY_MESSENGER_H_
