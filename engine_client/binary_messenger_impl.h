// The messenger over the engine library's flat messenger functions.
#ifndef ENGINE_CLIENT_BINARY_MESSENGER_IMPL_H_
#define ENGINE_CLIENT_BINARY_MESSENGER_IMPL_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "engine_client/binary_messenger.h"
#include "engine_client/flutter_windows.h"

namespace flutter {

// Keeps one handler per channel and registers it with the engine. Replies
// hold their own messenger reference and never reach an engine that is gone.
class BinaryMessengerImpl : public BinaryMessenger {
 public:
  // Wraps `messenger`, which the engine owns. A null messenger (no engine)
  // keeps handlers but passes nothing on.
  explicit BinaryMessengerImpl(FlutterDesktopMessengerRef messenger);
  // Destroys the handlers without unregistering them: the engine must be
  // gone by now.
  ~BinaryMessengerImpl() override;

  BinaryMessengerImpl(const BinaryMessengerImpl&) = delete;
  BinaryMessengerImpl& operator=(const BinaryMessengerImpl&) = delete;

  void Send(const std::string& channel, const uint8_t* message,
            size_t message_size, ReplySink reply) const override;
  void SetChannelHandler(const std::string& channel,
                         ByteMessageHandler handler) override;

  // Delivers one engine message to the handler that `user_data` points at.
  // Nothing unwinds into the engine: a handler that throws is reported on
  // standard error and its message answered with an empty reply, once. A
  // record too small to hold what is read here is reported and dropped.
  static void OnEngineMessage(FlutterDesktopMessengerRef messenger,
                              const FlutterDesktopMessage* message,
                              void* user_data) noexcept;

  // Passes the answer to a sent message to the heap-held sink in
  // `user_data`, then frees it. What the sink throws is reported and
  // dropped.
  static void OnEngineReply(const uint8_t* data, size_t data_size,
                            void* user_data) noexcept;

 private:
  FlutterDesktopMessengerRef messenger_;
  // Node-based: the engine holds the address of each stored handler.
  std::map<std::string, ByteMessageHandler> handlers_;
};

}  // namespace flutter

#endif  // ENGINE_CLIENT_BINARY_MESSENGER_IMPL_H_
