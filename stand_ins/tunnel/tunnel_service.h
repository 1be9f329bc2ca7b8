// The service side of the stand-in tunnel: talks to the service manager for
// one service and plays a tunnel's life cycle from its configuration file.
#ifndef STAND_INS_TUNNEL_TUNNEL_SERVICE_H_
#define STAND_INS_TUNNEL_TUNNEL_SERVICE_H_

#include <mutex>
#include <string>

#include "stand_ins/tunnel/config_check.h"
#include "stand_ins/tunnel/service_log.h"
#include "win/scoped_resource.h"
#include "win/windows_api.h"

namespace tunnel_stand_in {

// Service-specific exit codes reported with ERROR_SERVICE_SPECIFIC_ERROR.
inline constexpr DWORD kExitInvalidConfig = 1;
inline constexpr DWORD kExitStoppedUnasked = 2;

// Runs one service process. Only one instance may run per process, because
// the service manager's callbacks carry no pointer back to it.
class TunnelService {
 public:
  explicit TunnelService(std::wstring config_path);
  ~TunnelService();

  TunnelService(const TunnelService&) = delete;
  TunnelService& operator=(const TunnelService&) = delete;

  // Connects to the service manager and returns when the service has
  // stopped: true when it ran and stopped on request, false when the
  // configuration was missing or invalid, the tunnel stopped unasked, or
  // the process was not started as a service.
  bool Run();

  // Returns "WireGuardTunnel$" and the file name of `config_path` without a
  // trailing ".conf" (compared ignoring case).
  static std::wstring ServiceNameFor(std::wstring_view config_path);

 private:
  static void WINAPI ServiceMain(DWORD argc, LPWSTR* argv);
  static DWORD WINAPI ControlHandler(DWORD control, DWORD event_type,
                                     void* event_data, void* context);

  void Main();
  DWORD OnControl(DWORD control);

  // Reads and checks the configuration and keeps it open, unshared but for
  // reading, while the tunnel runs; on failure reports the service stopped
  // with the matching exit code and returns false.
  bool LoadConfig(ConfigCheck* config);

  // Stays in `pending_state` for `ms`, advancing the checkpoint so the
  // service manager sees progress.
  void HoldPending(DWORD pending_state, DWORD ms);

  void Report(DWORD state, DWORD win32_exit_code = NO_ERROR,
              DWORD specific_exit_code = 0, DWORD wait_hint = 0);
  // Report with status_lock_ already held.
  void ReportLocked(DWORD state, DWORD win32_exit_code,
                    DWORD specific_exit_code, DWORD wait_hint);

  static TunnelService* current_;

  std::wstring config_path_;
  std::wstring service_name_;
  ServiceLog log_;
  win::ScopedHandle stop_event_;
  win::ScopedFile config_file_;
  // Not closed: a status handle needs no closing.
  SERVICE_STATUS_HANDLE status_handle_ = nullptr;
  // Serialises reports of the service thread and the control handler.
  static std::mutex status_lock_;
  SERVICE_STATUS status_{};
  bool stopped_on_request_ = false;
};

}  // namespace tunnel_stand_in

#endif  // STAND_INS_TUNNEL_TUNNEL_SERVICE_H_
