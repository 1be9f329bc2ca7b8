// The error vocabulary of tunnel operations: every code and message the UI
// can receive, as named entries, and the formatting of Windows error numbers
// into messages.
#ifndef APP_TUNNEL_CONTROL_COMMON_ERROR_TEXTS_H_
#define APP_TUNNEL_CONTROL_COMMON_ERROR_TEXTS_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "app/tunnel_control/common/op_error.h"

namespace tunnel_control {

// What follows an entry's message.
enum class ErrorSuffix {
  kNone,            // the message alone, also when a Windows call failed
  kErrorNumber,     // " (error N)", N a Windows error number
  kHelperExitCode,  // " (helper exit code N)", N the elevated copy's
};

// One entry of the vocabulary: the code the UI branches on and the English
// message shown to the user (no final full stop).
struct ErrorText {
  std::string_view code;
  std::string_view message;
  ErrorSuffix suffix;
};

// The codes, each shared by the entries that carry it.
inline constexpr std::string_view kScmUnavailableCode = "scm_unavailable";
inline constexpr std::string_view kServiceUnavailableCode =
    "service_unavailable";
inline constexpr std::string_view kStopFailedCode = "stop_failed";
inline constexpr std::string_view kStartFailedCode = "start_failed";
inline constexpr std::string_view kTunnelFailedCode = "tunnel_failed";
inline constexpr std::string_view kConfigWriteFailedCode =
    "config_write_failed";
inline constexpr std::string_view kInstallFailedCode = "install_failed";
inline constexpr std::string_view kElevationDeclinedCode = "elevation_declined";

// Service control: connect and disconnect.
inline constexpr ErrorText kScmUnavailable{
    kScmUnavailableCode, "Could not reach the service manager",
    ErrorSuffix::kErrorNumber};
inline constexpr ErrorText kServiceUnavailable{
    kServiceUnavailableCode, "Could not open the tunnel service",
    ErrorSuffix::kErrorNumber};
inline constexpr ErrorText kPreviousStopTimedOut{
    kStopFailedCode, "Timed out stopping the previous tunnel",
    ErrorSuffix::kNone};
inline constexpr ErrorText kStopFailed{kStopFailedCode,
                                       "Could not stop the tunnel service",
                                       ErrorSuffix::kErrorNumber};
inline constexpr ErrorText kStartFailed{kStartFailedCode,
                                        "Could not start the tunnel service",
                                        ErrorSuffix::kErrorNumber};
inline constexpr ErrorText kTunnelFailed{
    kTunnelFailedCode,
    "Tunnel service exited during startup "
    "(see %ProgramData%\\VarnVPN\\log.bin)",
    ErrorSuffix::kNone};

// The configuration write.
inline constexpr ErrorText kProgramDataUnresolved{
    kConfigWriteFailedCode, "Could not resolve %ProgramData%",
    ErrorSuffix::kNone};
inline constexpr ErrorText kConfigWriteFailed{
    kConfigWriteFailedCode, "Could not write the tunnel config",
    ErrorSuffix::kErrorNumber};
inline constexpr ErrorText kConfigShortWrite{
    kConfigWriteFailedCode, "Short write while saving the tunnel config",
    ErrorSuffix::kNone};

// The elevated installer launch.
inline constexpr ErrorText kInstallUnresolved{
    kInstallFailedCode, "Could not resolve the current user or executable path",
    ErrorSuffix::kNone};
inline constexpr ErrorText kInstallLaunchFailed{
    kInstallFailedCode, "Could not launch the elevated tunnel installer",
    ErrorSuffix::kErrorNumber};
// The user's "no" at the elevation prompt (error 1223).
inline constexpr ErrorText kElevationDeclined{kElevationDeclinedCode,
                                              kInstallLaunchFailed.message,
                                              ErrorSuffix::kErrorNumber};
inline constexpr ErrorText kInstallHelperFailed{kInstallFailedCode,
                                                "Tunnel service install failed",
                                                ErrorSuffix::kHelperExitCode};

// The channel's own answers, given before any operation runs.
inline constexpr ErrorText kBadArgs{
    "bad_args", "connect expects a non-empty 'config'", ErrorSuffix::kNone};
inline constexpr ErrorText kBusy{
    "busy", "Another tunnel operation is in progress", ErrorSuffix::kNone};
inline constexpr ErrorText kThreadFailed{"thread_failed",
                                         "Could not start the tunnel operation",
                                         ErrorSuffix::kNone};

// Every entry a connect, a disconnect or the elevated launch can leave in
// its record.
inline constexpr ErrorText kOperationErrors[] = {
    kScmUnavailable,        kServiceUnavailable,
    kPreviousStopTimedOut,  kStopFailed,
    kStartFailed,           kTunnelFailed,
    kProgramDataUnresolved, kConfigWriteFailed,
    kConfigShortWrite,      kInstallUnresolved,
    kInstallLaunchFailed,   kElevationDeclined,
    kInstallHelperFailed,
};

// Returns `message` followed by " (error N)", N in unsigned decimal.
std::string WithErrorNumber(std::string_view message, uint32_t error);

// The message of `text` with `number` in its suffix; `number` is ignored
// when the entry has none.
std::string MessageOf(const ErrorText& text, uint32_t number = 0);

// Replaces the record's code, then its message.
void SetOpError(OpError* error, std::string_view code, std::string message);

// Fills the record from `text`, with `number` in its suffix.
void SetOpError(OpError* error, const ErrorText& text, uint32_t number = 0);

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_COMMON_ERROR_TEXTS_H_
