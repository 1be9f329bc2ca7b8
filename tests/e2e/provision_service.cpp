// Test support, never shipped: creates the tunnel service and its data
// directory with the installer's definition, straight through the service
// manager. Under Wine the installer rightly refuses every location (Wine
// reports every file as owned by the user), so the end-to-end test and the
// demo provision the service with this instead.
//
//   provision_service.exe EXE_PATH USER_SID
//
// Exit codes: 0 done, 1 usage, 2 data directory, 3 service manager,
// 4 service definition, 5 service DACL. Failures are also written to stderr.
#include <cstdio>
#include <string>

#include "app/tunnel_control/common/tunnel_paths.h"
#include "app/tunnel_control/installer/service_definition.h"
#include "win/scoped_resource.h"

namespace {

using win::ScopedScHandle;

int Fail(int code, const char* what) {
  std::fprintf(stderr, "provision_service: %s failed (error %lu)\n", what,
               ::GetLastError());
  return code;
}

int Provision(const std::wstring& exe, const std::wstring& user_sid) {
  const std::wstring directory = tunnel_control::DataDirectoryPath();
  if (directory.empty() || (!::CreateDirectoryW(directory.c_str(), nullptr) &&
                            ::GetLastError() != ERROR_ALREADY_EXISTS)) {
    return Fail(2, "creating the data directory");
  }

  ScopedScHandle manager(
      ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return Fail(3, "OpenSCManagerW");
  const tunnel_control::ServiceDefinition definition =
      tunnel_control::TunnelServiceDefinition(
          exe, tunnel_control::ConfigFilePath(), user_sid);
  ScopedScHandle service(::CreateServiceW(
      manager.Get(), definition.name.c_str(), definition.display_name.c_str(),
      SERVICE_ALL_ACCESS, definition.service_type, definition.start_type,
      definition.error_control, definition.binary_path.c_str(), nullptr,
      nullptr, definition.dependencies.c_str(), nullptr, nullptr));
  if (!service) {
    if (::GetLastError() != ERROR_SERVICE_EXISTS) {
      return Fail(4, "CreateServiceW");
    }
    service.Reset(::OpenServiceW(manager.Get(), definition.name.c_str(),
                                 SERVICE_ALL_ACCESS));
    if (!service ||
        !::ChangeServiceConfigW(
            service.Get(), definition.service_type, definition.start_type,
            definition.error_control, definition.binary_path.c_str(), nullptr,
            nullptr, definition.dependencies.c_str(), nullptr, nullptr,
            definition.display_name.c_str())) {
      return Fail(4, "reconfiguring the existing service");
    }
  }
  std::wstring description = definition.description;
  SERVICE_DESCRIPTIONW description_info{description.data()};
  if (!::ChangeServiceConfig2W(service.Get(), SERVICE_CONFIG_DESCRIPTION,
                               &description_info)) {
    return Fail(4, "setting the description");
  }

  win::ScopedLocalAlloc<void> descriptor;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
          definition.sddl.c_str(), SDDL_REVISION_1, descriptor.Put(),
          nullptr)) {
    return Fail(5, "converting the service SDDL");
  }
  if (!::SetServiceObjectSecurity(service.Get(), DACL_SECURITY_INFORMATION,
                                  descriptor.Get())) {
    return Fail(5, "SetServiceObjectSecurity");
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: provision_service.exe EXE_PATH USER_SID\n");
    return 1;
  }
  return Provision(argv[1], argv[2]);
}
