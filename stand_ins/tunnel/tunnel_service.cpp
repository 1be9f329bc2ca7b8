#include "stand_ins/tunnel/tunnel_service.h"

#include <algorithm>
#include <cwctype>
#include <string_view>
#include <utility>

#include "stand_ins/tunnel/utf8_text.h"

namespace tunnel_stand_in {
namespace {

// A configuration is a few hundred bytes; anything this large is not one.
constexpr DWORD kMaxConfigBytes = 1 << 20;

// Pending states report progress at least this often.
constexpr DWORD kCheckpointMs = 250;
constexpr DWORD kWaitHintMs = 3000;

std::string WithError(std::string text, DWORD error) {
  return text + " (error " + std::to_string(error) + ")";
}

}  // namespace

TunnelService* TunnelService::current_ = nullptr;
std::mutex TunnelService::status_lock_;

TunnelService::TunnelService(std::wstring config_path)
    : config_path_(std::move(config_path)),
      service_name_(ServiceNameFor(config_path_)),
      log_(config_path_) {}

TunnelService::~TunnelService() {
  if (current_ == this) current_ = nullptr;
}

std::wstring TunnelService::ServiceNameFor(std::wstring_view config_path) {
  const size_t separator = config_path.find_last_of(L"\\/");
  std::wstring_view name = separator == std::wstring_view::npos
                               ? config_path
                               : config_path.substr(separator + 1);
  constexpr std::wstring_view kSuffix = L".conf";
  if (name.size() >= kSuffix.size()) {
    const std::wstring_view tail = name.substr(name.size() - kSuffix.size());
    const bool is_suffix =
        std::equal(tail.begin(), tail.end(), kSuffix.begin(),
                   [](wchar_t a, wchar_t b) { return ::towlower(a) == b; });
    if (is_suffix) name.remove_suffix(kSuffix.size());
  }
  return L"WireGuardTunnel$" + std::wstring(name);
}

bool TunnelService::Run() {
  log_.Write("starting service " + ToUtf8(service_name_) +
             " with configuration " + ToUtf8(config_path_));
  stop_event_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!stop_event_.IsValid()) {
    log_.Write(WithError("cannot create the stop event", ::GetLastError()));
    return false;
  }
  current_ = this;
  SERVICE_TABLE_ENTRYW table[] = {{service_name_.data(), &ServiceMain},
                                  {nullptr, nullptr}};
  if (!::StartServiceCtrlDispatcherW(table)) {
    const DWORD error = ::GetLastError();
    current_ = nullptr;
    log_.Write(WithError("cannot connect to the service manager", error));
    return false;
  }
  current_ = nullptr;
  log_.Write(stopped_on_request_ ? "service ended: stopped on request"
                                 : "service ended: failed");
  return stopped_on_request_;
}

void WINAPI TunnelService::ServiceMain(DWORD /*argc*/, LPWSTR* /*argv*/) {
  if (current_ != nullptr) current_->Main();
}

DWORD WINAPI TunnelService::ControlHandler(DWORD control, DWORD /*event_type*/,
                                           void* /*event_data*/,
                                           void* context) {
  return static_cast<TunnelService*>(context)->OnControl(control);
}

void TunnelService::Main() {
  status_handle_ = ::RegisterServiceCtrlHandlerExW(service_name_.c_str(),
                                                   &ControlHandler, this);
  if (status_handle_ == nullptr) {
    log_.Write(
        WithError("cannot register the control handler", ::GetLastError()));
    return;
  }
  status_.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  Report(SERVICE_START_PENDING, NO_ERROR, 0, kWaitHintMs);

  ConfigCheck config;
  if (!LoadConfig(&config)) return;
  log_.Write("configuration valid: 1 interface, " +
             std::to_string(config.peer_count) + " peer(s)");

  const StandInTimings& timings = config.timings;
  HoldPending(SERVICE_START_PENDING, timings.start_delay_ms);
  Report(SERVICE_RUNNING);
  log_.Write("tunnel running");

  const DWORD wait = timings.stop_after_ms ? *timings.stop_after_ms : INFINITE;
  if (::WaitForSingleObject(stop_event_.Get(), wait) != WAIT_OBJECT_0) {
    std::unique_lock<std::mutex> lock(status_lock_);
    // A stop control that arrived as the time ran out has already reported
    // stop-pending; it wins, or the manager would see stopped, then pending.
    if (status_.dwCurrentState == SERVICE_RUNNING) {
      log_.Write("tunnel stopped by itself after " +
                 std::to_string(*timings.stop_after_ms) + " ms");
      config_file_.Reset();
      ReportLocked(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR,
                   kExitStoppedUnasked, 0);
      return;  // the lock is static, so leaving it here is safe
    }
    lock.unlock();
    ::WaitForSingleObject(stop_event_.Get(), INFINITE);
  }
  // The control handler has already reported the stop as pending.
  HoldPending(SERVICE_STOP_PENDING, timings.stop_delay_ms);
  stopped_on_request_ = true;
  log_.Write("tunnel stopped");
  config_file_.Reset();
  // Nothing may touch this object after the final report: the dispatcher
  // returns on the main thread and the owner goes away.
  Report(SERVICE_STOPPED);
}

bool TunnelService::LoadConfig(ConfigCheck* config) {
  win::ScopedFile file(::CreateFileW(config_path_.c_str(), GENERIC_READ,
                                     FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) {
    const DWORD error = ::GetLastError();
    log_.Write(WithError("cannot open the configuration", error));
    Report(SERVICE_STOPPED, error);
    return false;
  }
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.Get(), &size) || size.QuadPart > kMaxConfigBytes) {
    log_.Write("invalid configuration: missing size or larger than 1 MiB");
    Report(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR, kExitInvalidConfig);
    return false;
  }
  std::string text(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!text.empty() &&
      (!::ReadFile(file.Get(), text.data(), static_cast<DWORD>(text.size()),
                   &read, nullptr) ||
       read != text.size())) {
    const DWORD error = ::GetLastError();
    log_.Write(WithError("cannot read the configuration", error));
    Report(SERVICE_STOPPED, error == NO_ERROR ? ERROR_READ_FAULT : error);
    return false;
  }
  *config = CheckConfig(text);
  if (!config->valid) {
    log_.Write("invalid configuration: " + config->error);
    Report(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR, kExitInvalidConfig);
    return false;
  }
  // Held like a tunnel that rereads its file: nobody can delete it until
  // the tunnel stops.
  config_file_ = std::move(file);
  return true;
}

void TunnelService::HoldPending(DWORD pending_state, DWORD ms) {
  if (ms == 0) return;
  log_.Write("holding " +
             std::string(pending_state == SERVICE_START_PENDING
                             ? "start-pending"
                             : "stop-pending") +
             " for " + std::to_string(ms) + " ms");
  const ULONGLONG deadline = ::GetTickCount64() + ms;
  for (ULONGLONG now = ::GetTickCount64(); now < deadline;
       now = ::GetTickCount64()) {
    Report(pending_state, NO_ERROR, 0, kWaitHintMs);
    ::Sleep(
        static_cast<DWORD>(std::min<ULONGLONG>(kCheckpointMs, deadline - now)));
  }
}

DWORD TunnelService::OnControl(DWORD control) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN: {
      {
        // Checked and reported in one step, so a tunnel that stops by
        // itself at this moment cannot report stopped in between.
        std::lock_guard<std::mutex> lock(status_lock_);
        if (status_.dwCurrentState != SERVICE_RUNNING) return NO_ERROR;
        ReportLocked(SERVICE_STOP_PENDING, NO_ERROR, 0, kWaitHintMs);
      }
      log_.Write("stop requested");
      ::SetEvent(stop_event_.Get());
      return NO_ERROR;
    }
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void TunnelService::Report(DWORD state, DWORD win32_exit_code,
                           DWORD specific_exit_code, DWORD wait_hint) {
  // The lock is static and the status is copied: once the final report is
  // made the dispatcher may return and this object be gone, while this
  // thread still has to leave the lock.
  std::lock_guard<std::mutex> lock(status_lock_);
  ReportLocked(state, win32_exit_code, specific_exit_code, wait_hint);
}

void TunnelService::ReportLocked(DWORD state, DWORD win32_exit_code,
                                 DWORD specific_exit_code, DWORD wait_hint) {
  const bool pending =
      state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
  status_.dwCheckPoint =
      pending && status_.dwCurrentState == state ? status_.dwCheckPoint + 1 : 0;
  status_.dwCurrentState = state;
  // Controls are refused while starting, as a real tunnel does until its
  // adapter is up.
  status_.dwControlsAccepted =
      state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN
                               : 0;
  status_.dwWin32ExitCode = win32_exit_code;
  status_.dwServiceSpecificExitCode = specific_exit_code;
  status_.dwWaitHint = wait_hint;
  SERVICE_STATUS status = status_;
  ::SetServiceStatus(status_handle_, &status);
}

}  // namespace tunnel_stand_in
