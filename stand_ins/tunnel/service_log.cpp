#include "stand_ins/tunnel/service_log.h"

#include <cstdio>

#include "win/scoped_resource.h"
#include "win/windows_api.h"

namespace tunnel_stand_in {

ServiceLog::ServiceLog(std::wstring_view config_path) {
  const size_t separator = config_path.find_last_of(L"\\/");
  if (separator != std::wstring_view::npos) {
    path_.assign(config_path.substr(0, separator + 1));
  }
  path_ += L"log.bin";
}

void ServiceLog::Write(std::string_view text) const {
  SYSTEMTIME now;
  ::GetSystemTime(&now);
  char stamp[64];
  std::snprintf(
      stamp, sizeof(stamp), "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ [pid %lu] ",
      now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
      now.wMilliseconds, static_cast<unsigned long>(::GetCurrentProcessId()));
  std::string line = stamp;
  line += text;
  line += "\r\n";

  // FILE_APPEND_DATA alone makes every write land at the end of the file.
  win::ScopedFile file(::CreateFileW(
      path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) return;
  DWORD written = 0;
  ::WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()),
              &written, nullptr);
}

}  // namespace tunnel_stand_in
