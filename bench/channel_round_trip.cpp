#include "bench/channel_round_trip.h"

#include <memory>
#include <string>
#include <utility>

#include "bench/payloads.h"
#include "codec/encodable_value.h"
#include "codec/method_call.h"
#include "codec/standard_method_codec.h"
#include "engine_client/call_channel.h"

namespace bench {
namespace {

constexpr char kChannel[] = "varn/wintunnel";

// Answers like the tunnel channel's handler with the service reporting
// "connected" and an operation running: "stage" gets the stage text,
// "connect" reads its configuration and is refused as busy.
void AnswerAtOnce(const flutter::MethodCall<flutter::EncodableValue>& call,
                  std::unique_ptr<flutter::MethodResult<>> result) {
  if (call.call_name() == "stage") {
    std::string stage = "connected";
    result->Success(flutter::EncodableValue(std::move(stage)));
    return;
  }
  if (call.call_name() == "connect") {
    std::string config;
    const auto* arguments = call.call_arguments();
    if (const auto* map =
            arguments ? arguments->GetIf<flutter::ValueMap>() : nullptr) {
      auto entry = map->find(flutter::EncodableValue("config"));
      if (entry != map->end()) {
        if (const auto* text = entry->second.GetIf<std::string>()) {
          config = *text;
        }
      }
    }
    if (config.empty()) {
      result->Error("bad_args", "connect expects a non-empty 'config'");
      return;
    }
    result->Error("busy", "Another tunnel operation is in progress");
    return;
  }
  result->NotImplemented();
}

std::vector<uint8_t> EncodeCall(std::string name,
                                const flutter::EncodableValue* arguments) {
  flutter::MethodCall<> call(
      std::move(name),
      arguments ? std::make_unique<flutter::EncodableValue>(*arguments)
                : nullptr);
  return std::move(
      *flutter::StandardMethodCodec::SharedInstance().SerializeMethodCall(
          call));
}

}  // namespace

ChannelRoundTrip::ChannelRoundTrip() : messenger_(engine_.messenger()) {
  flutter::CallChannel channel(&messenger_, kChannel,
                               &flutter::StandardMethodCodec::SharedInstance());
  channel.SetMethodHandler(AnswerAtOnce);
  TrafficValues traffic = MakeTrafficValues();
  stage_message_ = EncodeCall("stage", nullptr);
  connect_message_ = EncodeCall("connect", &traffic.connect_arguments);
}

size_t ChannelRoundTrip::RunStage() { return Run(stage_message_); }

size_t ChannelRoundTrip::RunConnect() { return Run(connect_message_); }

size_t ChannelRoundTrip::Run(const std::vector<uint8_t>& message) {
  const std::vector<uint8_t>* response = nullptr;
  if (!engine_.Deliver(kChannel, message.data(), message.size(), &response)) {
    return 0;
  }
  return response->size();
}

}  // namespace bench
