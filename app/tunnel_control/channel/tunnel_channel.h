// The "varn/wintunnel" method channel: the UI's "stage", "connect" and
// "disconnect" calls.
#ifndef APP_TUNNEL_CONTROL_CHANNEL_TUNNEL_CHANNEL_H_
#define APP_TUNNEL_CONTROL_CHANNEL_TUNNEL_CHANNEL_H_

#include <memory>
#include <string>

#include "app/tunnel_control/common/op_error.h"
#include "codec/encodable_value.h"
#include "codec/method_call.h"
#include "codec/method_result.h"
#include "engine_client/binary_messenger.h"
#include "win/scoped_override.h"
#include "win/windows_api.h"

namespace tunnel_control {

// Installs the tunnel handler on `messenger`. Replies of long operations are
// posted to `window`, the application's top-level window.
void RegisterTunnelChannel(flutter::BinaryMessenger* messenger, HWND window);

// Answers one call of the tunnel channel at once, or hands "connect" and
// "disconnect" to the operation runner, which answers them later.
void HandleTunnelCall(
    HWND window, const flutter::MethodCall<flutter::EncodableValue>& call,
    std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>> result);

// The service work behind the channel's methods.
struct TunnelServices {
  bool (*connect)(const std::string& config_text, OpError* error);
  bool (*disconnect)(OpError* error);
  std::string (*query_stage)();
};

// The services in force: the real service control unless a test has
// installed others.
const TunnelServices& Services();

// Installs replacement services for the lifetime of this object. Tests only;
// not for use while an operation runs.
class ScopedTunnelServices : public win::ScopedOverride<const TunnelServices*> {
 public:
  explicit ScopedTunnelServices(const TunnelServices& replacement);
};

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_CHANNEL_TUNNEL_CHANNEL_H_
