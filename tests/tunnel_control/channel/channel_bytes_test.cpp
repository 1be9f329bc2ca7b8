// The registered channel end to end at the byte level: encoded calls in,
// encoded envelopes out, through the method channel on a fake messenger.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "app/tunnel_control/channel/tunnel_channel.h"
#include "app/tunnel_control/common/error_texts.h"
#include "engine_client/binary_messenger.h"
#include "tests/tunnel_control/channel/channel_test_support.h"

namespace tunnel_control::testing {
namespace {

using Bytes = std::vector<uint8_t>;

class FakeMessenger : public flutter::BinaryMessenger {
 public:
  void Send(const std::string&, const uint8_t*, size_t,
            flutter::ReplySink) const override {
    ADD_FAILURE() << "the tunnel channel never sends";
  }
  void SetChannelHandler(const std::string& channel,
                         flutter::ByteMessageHandler handler) override {
    handlers[channel] = std::move(handler);
  }

  std::map<std::string, flutter::ByteMessageHandler> handlers;
};

struct ByteReply {
  int count = 0;
  bool null_data = false;
  Bytes bytes;
};

// Delivers `message` to the channel's handler; the reply lands in the result.
std::shared_ptr<ByteReply> Deliver(FakeMessenger& messenger,
                                   const Bytes& message) {
  auto reply = std::make_shared<ByteReply>();
  messenger.handlers.at("varn/wintunnel")(
      message.data(), message.size(),
      [reply](const uint8_t* data, size_t size) {
        ++reply->count;
        reply->null_data = data == nullptr;
        if (data != nullptr) reply->bytes.assign(data, data + size);
      });
  return reply;
}

// Returns a string value's encoding (short texts only).
Bytes Text(uint8_t tag, const std::string& text) {
  std::string encoded;
  encoded += static_cast<char>(tag);
  encoded += static_cast<char>(text.size());
  encoded += text;
  return Bytes(encoded.begin(), encoded.end());
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST(ChannelBytesTest, RegisteredChannelAnswersEncodedCalls) {
  FakeServices services;
  services.stage = "connected";
  services.connect = [](const std::string& config, OpError* error) {
    error->code = kTunnelFailedCode;
    error->message = "rejected " + config;
    return false;
  };
  services.disconnect = [](OpError*) { return false; };
  TaskWindow window;
  FakeMessenger messenger;
  tunnel_control::RegisterTunnelChannel(&messenger, window.hwnd());
  ASSERT_EQ(messenger.handlers.size(), 1u);

  auto stage = Deliver(messenger, Concat({Text(7, "stage"), {0x00}}));
  EXPECT_EQ(stage->count, 1);
  EXPECT_EQ(stage->bytes, Concat({{0x00}, Text(7, "connected")}));

  auto connect = Deliver(
      messenger,
      Concat(
          {Text(7, "connect"), {0x0D, 0x01}, Text(7, "config"), Text(7, "x")}));
  EXPECT_EQ(connect->count, 0);
  ASSERT_TRUE(PumpUntil([&] { return connect->count > 0; }));
  EXPECT_EQ(connect->count, 1);
  EXPECT_EQ(connect->bytes, Concat({{0x01},
                                    Text(7, std::string(kTunnelFailedCode)),
                                    Text(7, "rejected x"),
                                    {0x00}}));

  auto bad = Deliver(messenger, Concat({Text(7, "connect"), {0x00}}));
  EXPECT_EQ(bad->bytes, Concat({{0x01},
                                Text(7, std::string(kBadArgs.code)),
                                Text(7, std::string(kBadArgs.message)),
                                {0x00}}));

  // A failure that wrote nothing: empty code, and the empty message goes out
  // as null.
  auto untouched = Deliver(messenger, Concat({Text(7, "disconnect"), {0x00}}));
  ASSERT_TRUE(PumpUntil([&] { return untouched->count > 0; }));
  EXPECT_EQ(untouched->bytes, Concat({{0x01}, Text(7, ""), {0x00, 0x00}}));

  auto unknown = Deliver(messenger, Concat({Text(7, "Stage"), {0x00}}));
  EXPECT_EQ(unknown->count, 1);
  EXPECT_TRUE(unknown->null_data);
}

}  // namespace
}  // namespace tunnel_control::testing
