// The stand-in's readable log, log.bin beside the configuration file.
#ifndef STAND_INS_TUNNEL_SERVICE_LOG_H_
#define STAND_INS_TUNNEL_SERVICE_LOG_H_

#include <string>
#include <string_view>

namespace tunnel_stand_in {

// Appends one UTF-8 line per event to a log file. Each line is opened,
// appended and closed on its own, so lines from the service thread and the
// control handler thread never interleave and a crash loses nothing.
class ServiceLog {
 public:
  // Logs into `log.bin` in the folder of `config_path` (the current folder
  // when the path has no folder part).
  explicit ServiceLog(std::wstring_view config_path);

  // Appends "<UTC time> [pid N] <text>" and CRLF. Failures are ignored:
  // the log must never decide whether the tunnel runs.
  void Write(std::string_view text) const;

  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

}  // namespace tunnel_stand_in

#endif  // STAND_INS_TUNNEL_SERVICE_LOG_H_
