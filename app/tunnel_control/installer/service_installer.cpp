#include "app/tunnel_control/installer/service_installer.h"

#include "app/tunnel_control/common/service_wait.h"
#include "app/tunnel_control/common/tunnel_names.h"
#include "app/tunnel_control/common/tunnel_paths.h"
#include "app/tunnel_control/installer/data_directory.h"
#include "app/tunnel_control/installer/install_location.h"
#include "app/tunnel_control/installer/service_definition.h"
#include "app/tunnel_control/installer/user_sid.h"
#include "app/tunnel_control/os/platform.h"
#include "app/tunnel_control/os/scoped_handles.h"
#include "app/tunnel_control/os/well_known_sids.h"

namespace tunnel_control {
namespace {

// True when `sid` names one user: it goes into both SDDLs as it stands.
bool IsValidSidString(const std::wstring& sid) { return IsSingleUserSid(sid); }

// Rights over a service beyond reading its state: starting, stopping,
// pausing, reconfiguring, deleting and re-permissioning it.
constexpr DWORD kServiceControlRights =
    SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE |
    SERVICE_CHANGE_CONFIG | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL |
    GENERIC_WRITE | GENERIC_EXECUTE;

SC_HANDLE CreateTunnelService(SC_HANDLE manager,
                              const ServiceDefinition& definition) {
  return Os().CreateServiceW(
      manager, definition.name.c_str(), definition.display_name.c_str(),
      SERVICE_ALL_ACCESS, definition.service_type, definition.start_type,
      definition.error_control, definition.binary_path.c_str(), nullptr,
      nullptr, definition.dependencies.c_str(), nullptr, nullptr);
}

// The entries of the service's DACL, or nullopt when it cannot be read or
// there is none.
std::optional<std::vector<AccessEntry>> ServiceDacl(SC_HANDLE service) {
  DWORD needed = 0;
  Os().QueryServiceObjectSecurity(service, DACL_SECURITY_INFORMATION, nullptr,
                                  0, &needed);
  if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0) {
    return std::nullopt;
  }
  std::vector<BYTE> buffer(needed);
  if (!Os().QueryServiceObjectSecurity(service, DACL_SECURITY_INFORMATION,
                                       buffer.data(), needed, &needed)) {
    return std::nullopt;
  }
  return DescriptorDacl(buffer.data());
}

// Creates the service stopped, or stops the existing one and repairs its
// definition. Returns 0 with `service` open, or the exit code.
int CreateOrRepairService(SC_HANDLE manager,
                          const ServiceDefinition& definition,
                          const std::wstring& user_sid,
                          ScopedServiceHandle* service) {
  service->Reset(CreateTunnelService(manager, definition));
  if (*service) return kInstallSucceeded;
  if (::GetLastError() != ERROR_SERVICE_EXISTS) return kInstallCreateFailed;

  service->Reset(
      Os().OpenServiceW(manager, definition.name.c_str(), SERVICE_ALL_ACCESS));
  if (!*service) return kInstallOpenExistingFailed;
  // A running tunnel holds its configuration open, which keeps an old data
  // directory from being moved aside.
  StopAndWait(service->Get());
  if (GrantsOthersControl(ServiceDacl(service->Get()), user_sid)) {
    // The service manager checks access only when a handle is opened: the
    // previous user's handles keep their rights until the service is gone.
    if (!Os().DeleteService(service->Get())) return kInstallReconfigureFailed;
    service->Reset();
    service->Reset(CreateTunnelService(manager, definition));
    if (*service) return kInstallSucceeded;
    return ::GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE
               ? kInstallPreviousServiceMarked
               : kInstallCreateFailed;
  }
  // Account and password stay as they are.
  if (!Os().ChangeServiceConfigW(
          service->Get(), definition.service_type, definition.start_type,
          definition.error_control, definition.binary_path.c_str(), nullptr,
          nullptr, definition.dependencies.c_str(), nullptr, nullptr,
          definition.display_name.c_str())) {
    return kInstallReconfigureFailed;
  }
  return kInstallSucceeded;
}

}  // namespace

bool GrantsOthersControl(const std::optional<std::vector<AccessEntry>>& dacl,
                         const std::wstring& user_sid) {
  // No DACL at all lets everyone do everything.
  if (!dacl) return true;
  for (const AccessEntry& entry : *dacl) {
    if (!IsAllowEntry(entry.type) || IsSystemOrAdministrators(entry.sid) ||
        entry.sid == user_sid) {
      continue;
    }
    if ((entry.mask & kServiceControlRights) != 0) return true;
  }
  return false;
}

int RunInstallMode(const std::wstring& user_sid) {
  return RunInstallModeFor(user_sid, ExecutablePath());
}

int RunInstallModeFor(const std::wstring& user_sid,
                      const std::wstring& started_as) {
  if (user_sid.empty() || !IsValidSidString(user_sid)) return kInstallBadSid;

  const std::wstring data_directory = DataDirectoryPath();
  const std::wstring config_file = ConfigFilePath();
  if (data_directory.empty() || config_file.empty() || started_as.empty()) {
    return kInstallNoPath;
  }
  // The service runs this executable and the DLLs beside it as SYSTEM.
  const std::wstring executable = ProtectedExecutablePath(started_as);
  if (executable.empty()) return kInstallLocationUnprotected;
  const ServiceDefinition definition =
      TunnelServiceDefinition(executable, config_file, user_sid);

  ScopedServiceHandle manager(
      Os().OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return kInstallManagerUnavailable;

  // The service first: a previous user's tunnel stops, and a service still
  // marked for deletion ends the install before the directory changes.
  ScopedServiceHandle service;
  const int created =
      CreateOrRepairService(manager.Get(), definition, user_sid, &service);
  if (created != kInstallSucceeded) return created;

  switch (PrepareDataDirectory(data_directory, user_sid)) {
    case DirectoryResult::kReady:
      break;
    case DirectoryResult::kRefused:
      return kInstallDirectoryFailed;
    case DirectoryResult::kNotSecured:
      return kInstallDirectoryDaclFailed;
  }

  SERVICE_SID_INFO sid_info{definition.sid_type};
  // Wine does not implement this level (error 124); Windows does.
  if (!Os().ChangeServiceConfig2W(service.Get(),
                                  SERVICE_CONFIG_SERVICE_SID_INFO, &sid_info)) {
    return kInstallSidTypeFailed;
  }
  std::wstring description = definition.description;
  SERVICE_DESCRIPTIONW description_info{description.data()};
  Os().ChangeServiceConfig2W(service.Get(), SERVICE_CONFIG_DESCRIPTION,
                             &description_info);

  ScopedLocalMemory<void> descriptor;
  if (!Os().ConvertStringSecurityDescriptorToSecurityDescriptorW(
          definition.sddl.c_str(), SDDL_REVISION_1, descriptor.Put(),
          nullptr)) {
    return kInstallSddlFailed;
  }
  if (!Os().SetServiceObjectSecurity(service.Get(), DACL_SECURITY_INFORMATION,
                                     descriptor.Get())) {
    return kInstallServiceDaclFailed;
  }
  return kInstallSucceeded;
}

int RunUninstallMode() {
  // First and always, so the private key goes even when the rest fails.
  DeleteConfigInDataDirectory();

  ScopedServiceHandle manager(
      Os().OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return kUninstallManagerUnavailable;

  ScopedServiceHandle service(
      Os().OpenServiceW(manager.Get(), kTunnelServiceName,
                        DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
  if (!service) {
    return ::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST
               ? kUninstallSucceeded
               : kUninstallOpenFailed;
  }
  // A stop slower than the wait is no error: the service is deleted all the
  // same.
  StopAndWait(service.Get());
  // The tunnel's host holds the file until its process ends.
  RetryWhileStoppedServiceEnds(service.Get(), DeleteConfigInDataDirectory);
  // Marked for deletion already (someone's handle keeps it): it goes when
  // that handle closes, which is all a deletion here could achieve.
  const bool deleted = Os().DeleteService(service.Get()) != FALSE ||
                       ::GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
  return deleted ? kUninstallSucceeded : kUninstallDeleteFailed;
}

}  // namespace tunnel_control
