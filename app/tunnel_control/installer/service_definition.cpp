#include "app/tunnel_control/installer/service_definition.h"

#include <iterator>

#include "app/tunnel_control/common/tunnel_facts.h"
#include "app/tunnel_control/common/tunnel_names.h"

namespace tunnel_control {
namespace {

constexpr wchar_t kServiceSddlPrefix[] =
    L"D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)"
    L"(A;;CCLCSWLOCRRC;;;IU)(A;;CCLCSWLOCRRC;;;SU)(A;;RPWPCCLCSWLOCRRC;;;";

}  // namespace

std::wstring ServiceSddl(const std::wstring& user_sid) {
  return kServiceSddlPrefix + user_sid + L")";
}

ServiceDefinition TunnelServiceDefinition(const std::wstring& executable,
                                          const std::wstring& config_file,
                                          const std::wstring& user_sid) {
  return {kTunnelServiceName,
          kServiceDisplayName,
          kServiceDescription,
          SERVICE_WIN32_OWN_PROCESS,
          SERVICE_DEMAND_START,
          SERVICE_ERROR_NORMAL,
          ServiceCommandLine(executable, config_file),
          std::wstring(kServiceDependencies, std::size(kServiceDependencies)),
          SERVICE_SID_TYPE_UNRESTRICTED,
          ServiceSddl(user_sid)};
}

}  // namespace tunnel_control
