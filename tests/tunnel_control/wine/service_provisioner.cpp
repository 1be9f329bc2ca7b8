#include "tests/tunnel_control/wine/service_provisioner.h"

#include "app/tunnel_control/common/tunnel_paths.h"

namespace tunnel_control::testing {
namespace {

Provisioned Failed(ProvisionStep step, const char* what) {
  const DWORD error = ::GetLastError();
  Provisioned result;
  result.step = step;
  result.failure =
      std::string(what) + " failed with error " + std::to_string(error);
  return result;
}

// Creates the service, retrying while a deleted one of the same name waits
// for its last handle or process to go.
win::ScopedScHandle CreateService(SC_HANDLE manager,
                                  const ServiceDefinition& definition) {
  for (int attempt = 0;; ++attempt) {
    win::ScopedScHandle service(::CreateServiceW(
        manager, definition.name.c_str(), definition.display_name.c_str(),
        SERVICE_ALL_ACCESS, definition.service_type, definition.start_type,
        definition.error_control, definition.binary_path.c_str(), nullptr,
        nullptr, definition.dependencies.c_str(), nullptr, nullptr));
    if (service || ::GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE ||
        attempt == 100) {
      return service;
    }
    ::Sleep(50);
  }
}

}  // namespace

Provisioned ProvisionService(const ServiceDefinition& definition) {
  const std::wstring directory = DataDirectoryPath();
  if (directory.empty() || (!::CreateDirectoryW(directory.c_str(), nullptr) &&
                            ::GetLastError() != ERROR_ALREADY_EXISTS)) {
    return Failed(ProvisionStep::kDataDirectory, "creating the data directory");
  }

  win::ScopedScHandle manager(
      ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return Failed(ProvisionStep::kServiceManager, "OpenSCManagerW");
  Provisioned result;
  result.service = CreateService(manager.Get(), definition);
  if (!result.service) {
    if (::GetLastError() != ERROR_SERVICE_EXISTS) {
      return Failed(ProvisionStep::kService, "CreateServiceW");
    }
    result.service.Reset(::OpenServiceW(manager.Get(), definition.name.c_str(),
                                        SERVICE_ALL_ACCESS));
    if (!result.service) return Failed(ProvisionStep::kService, "OpenServiceW");
    if (!::ChangeServiceConfigW(result.service.Get(), definition.service_type,
                                definition.start_type, definition.error_control,
                                definition.binary_path.c_str(), nullptr,
                                nullptr, definition.dependencies.c_str(),
                                nullptr, nullptr,
                                definition.display_name.c_str())) {
      return Failed(ProvisionStep::kService, "ChangeServiceConfigW");
    }
  }
  std::wstring description = definition.description;
  SERVICE_DESCRIPTIONW description_info{description.data()};
  if (!::ChangeServiceConfig2W(result.service.Get(), SERVICE_CONFIG_DESCRIPTION,
                               &description_info)) {
    return Failed(ProvisionStep::kService, "setting the description");
  }
  if (definition.sddl.empty()) return result;

  win::ScopedLocalAlloc<void> descriptor;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
          definition.sddl.c_str(), SDDL_REVISION_1, descriptor.Put(),
          nullptr)) {
    return Failed(ProvisionStep::kServiceDacl, "converting the service SDDL");
  }
  if (!::SetServiceObjectSecurity(
          result.service.Get(), DACL_SECURITY_INFORMATION, descriptor.Get())) {
    return Failed(ProvisionStep::kServiceDacl, "SetServiceObjectSecurity");
  }
  return result;
}

}  // namespace tunnel_control::testing
