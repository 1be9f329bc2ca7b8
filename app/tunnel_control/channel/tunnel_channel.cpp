#include "app/tunnel_control/channel/tunnel_channel.h"

#include <utility>

#include "app/tunnel_control/channel/operation_runner.h"
#include "app/tunnel_control/client/service_control.h"
#include "app/tunnel_control/common/error_texts.h"
#include "codec/standard_method_codec.h"
#include "engine_client/call_channel.h"

namespace tunnel_control {

namespace {

using flutter::EncodableValue;
using Result = flutter::MethodResult<EncodableValue>;

const TunnelServices kRealServices = {ConnectTunnel, DisconnectTunnel,
                                      QueryTunnelStage};

// Read on the operation threads too, so the swap is atomic.
std::atomic<const TunnelServices*> active_services{&kRealServices};

// Returns the "config" string of a "connect" argument, or an empty string
// when there is none.
std::string ConfigText(const EncodableValue* arguments) {
  if (arguments == nullptr) return {};
  const auto* map = arguments->GetIf<flutter::ValueMap>();
  if (map == nullptr) return {};
  const auto entry = map->find(EncodableValue(std::string("config")));
  if (entry == map->end()) return {};
  const auto* text = entry->second.GetIf<std::string>();
  return text == nullptr ? std::string() : *text;
}

// Takes the single-operation guard and starts `operation`, or answers
// "busy" when another operation holds the guard. Everything that allocates is
// built before the guard is taken, so running out of memory on the way can
// never leave it set and refuse every later call.
void StartGuarded(HWND window, std::unique_ptr<Result> result,
                  TunnelOperation operation) {
  std::shared_ptr<Result> shared = std::move(result);
  if (operation_in_progress.exchange(true)) {
    shared->Error(std::string(kBusy.code), std::string(kBusy.message));
    return;
  }
  RunOperationAsync(window, std::move(shared), std::move(operation));
}

}  // namespace

void RegisterTunnelChannel(flutter::BinaryMessenger* messenger, HWND window) {
  // The installed handler keeps everything it needs, so the channel object
  // may go once the handler is in place.
  const flutter::CallChannel channel(
      messenger, "varn/wintunnel",
      &flutter::StandardMethodCodec::SharedInstance());
  channel.SetMethodHandler(
      [window](const flutter::MethodCall<EncodableValue>& call,
               std::unique_ptr<Result> result) {
        HandleTunnelCall(window, call, std::move(result));
      });
}

void HandleTunnelCall(HWND window,
                      const flutter::MethodCall<EncodableValue>& call,
                      std::unique_ptr<Result> result) {
  const std::string& method = call.call_name();
  if (method == "stage") {
    result->Success(EncodableValue(Services().query_stage()));
  } else if (method == "connect") {
    std::string config_text = ConfigText(call.call_arguments());
    if (config_text.empty()) {
      result->Error(std::string(kBadArgs.code), std::string(kBadArgs.message));
      return;
    }
    StartGuarded(window, std::move(result),
                 [config_text = std::move(config_text)](OpError* error) {
                   return Services().connect(config_text, error);
                 });
  } else if (method == "disconnect") {
    StartGuarded(window, std::move(result),
                 [](OpError* error) { return Services().disconnect(error); });
  } else {
    result->NotImplemented();
  }
}

const TunnelServices& Services() { return *active_services.load(); }

ScopedTunnelServices::ScopedTunnelServices(const TunnelServices& replacement)
    : ScopedOverride(active_services, &replacement) {}

}  // namespace tunnel_control
