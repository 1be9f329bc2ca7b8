#include "tests/tunnel_control/wine/wine_test_support.h"

#include <algorithm>
#include <atomic>

namespace tunnel_control::testing {
namespace {

// Removes every file in `folder` and, when `depth` allows, its subfolders.
void RemoveContents(const std::wstring& folder, int depth) {
  WIN32_FIND_DATAW entry;
  HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = folder + L"\\" + name;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (depth > 0) RemoveContents(path, depth - 1);
      ::RemoveDirectoryW(path.c_str());
    } else {
      ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      ::DeleteFileW(path.c_str());
    }
  } while (::FindNextFileW(find, &entry));
  ::FindClose(find);
}

}  // namespace

bool StateTrace::Saw(DWORD state) const {
  return std::find(states.begin(), states.end(), state) != states.end();
}

TempFolder::TempFolder() {
  static std::atomic<int> counter{0};
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
  std::wstring base(temp, length);
  if (!base.empty() && base.back() == L'\\') base.pop_back();
  path_ = base + L"\\varn-wine-" + std::to_wstring(::GetCurrentProcessId()) +
          L"-" + std::to_wstring(counter++);
  ::CreateDirectoryW(path_.c_str(), nullptr);
}

TempFolder::~TempFolder() { RemoveFolder(path_); }

std::wstring TempFolder::File(std::wstring_view name) const {
  return path_ + L"\\" + std::wstring(name);
}

std::wstring BinFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring exe(path, length);
  return exe.substr(0, exe.rfind(L'\\'));
}

std::wstring PlaceApp(const std::wstring& folder) {
  const std::wstring bin = BinFolder();
  const std::wstring exe = folder + L"\\varn_vpn.exe";
  if (CopyOver(bin + L"\\varn_vpn.exe", exe) != 0) return {};
  WIN32_FIND_DATAW entry;
  HANDLE find = ::FindFirstFileW((bin + L"\\*.dll").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return {};
  bool copied = true;
  do {
    const std::wstring name = entry.cFileName;
    if (_wcsicmp(name.c_str(), L"tunnel.dll") == 0) continue;
    copied = copied && CopyOver(bin + L"\\" + name, folder + L"\\" + name) == 0;
  } while (::FindNextFileW(find, &entry));
  ::FindClose(find);
  return copied ? exe : std::wstring();
}

bool PlantLibraries(const std::wstring& folder) {
  bool placed = true;
  for (const wchar_t* name : kPlantedLibraries) {
    placed = placed && CopyOver(BinFolder() + L"\\planted\\planted.dll",
                                folder + L"\\" + name) == 0;
  }
  return placed;
}

std::vector<std::wstring> LoadedPlantedLibraries(const std::wstring& folder) {
  std::vector<std::wstring> loaded;
  for (const wchar_t* name : kPlantedLibraries) {
    if (FileExists(folder + L"\\" + name + L".loaded")) loaded.push_back(name);
  }
  return loaded;
}

DWORD CopyOver(const std::wstring& from, const std::wstring& to) {
  return ::CopyFileW(from.c_str(), to.c_str(), FALSE) ? 0 : ::GetLastError();
}

bool FileExists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WriteTextFile(const std::wstring& path, std::string_view text) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok =
      ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written,
                  nullptr) &&
      written == text.size();
  ::CloseHandle(file);
  return ok;
}

std::optional<std::string> ReadTextFile(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string text;
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    text.append(buffer, read);
  }
  ::CloseHandle(file);
  return text;
}

void RemoveFolder(const std::wstring& path) {
  RemoveContents(path, 1);
  ::RemoveDirectoryW(path.c_str());
}

std::optional<DWORD> RunProgram(const std::wstring& exe,
                                const std::wstring& arguments) {
  std::wstring command = Quoted(exe) + L" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &info)) {
    return std::nullopt;
  }
  ScopedProcess process(info.hProcess);
  ScopedProcess thread(info.hThread);
  if (::WaitForSingleObject(process.Get(), 60000) != WAIT_OBJECT_0) {
    ::TerminateProcess(process.Get(), 999);
    return std::nullopt;
  }
  DWORD code = 0;
  if (!::GetExitCodeProcess(process.Get(), &code)) return std::nullopt;
  return code;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(),
                                         static_cast<int>(text.size()), nullptr,
                                         0, nullptr, nullptr);
  std::string result(static_cast<size_t>(std::max(size, 0)), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                        result.data(), size, nullptr, nullptr);
  return result;
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

std::wstring ProgramDataFolder() {
  wchar_t* path = nullptr;
  std::wstring result;
  if (SUCCEEDED(
          ::SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &path))) {
    result = path;
  }
  ::CoTaskMemFree(path);
  return result;
}

ScopedScHandle OpenManager() {
  return ScopedScHandle(
      ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
}

std::optional<SERVICE_STATUS_PROCESS> QueryStatus(SC_HANDLE service) {
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<BYTE*>(&status), sizeof(status),
                              &needed)) {
    return std::nullopt;
  }
  return status;
}

StateTrace WaitForState(SC_HANDLE service, DWORD wanted, DWORD timeout_ms) {
  StateTrace trace;
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  while (true) {
    if (const auto status = QueryStatus(service)) {
      trace.last = *status;
      if (trace.states.empty() ||
          trace.states.back() != status->dwCurrentState) {
        trace.states.push_back(status->dwCurrentState);
      }
      if (status->dwCurrentState == wanted) {
        trace.reached = true;
        return trace;
      }
    }
    if (::GetTickCount64() >= deadline) return trace;
    ::Sleep(20);
  }
}

DWORD StartWarm(SC_HANDLE service) {
  DWORD error = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (::StartServiceW(service, 0, nullptr)) return 0;
    error = ::GetLastError();
    if (error != ERROR_SERVICE_REQUEST_TIMEOUT) return error;
    WaitForState(service, SERVICE_STOPPED, 10000);
  }
  return error;
}

void RemoveService(const std::wstring& name) {
  ScopedScHandle manager = OpenManager();
  if (!manager) return;
  ScopedScHandle service(
      ::OpenServiceW(manager.Get(), name.c_str(), SERVICE_ALL_ACCESS));
  if (!service) return;
  SERVICE_STATUS status{};
  ::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status);
  WaitForState(service.Get(), SERVICE_STOPPED, 10000);
  ::DeleteService(service.Get());
}

TestService::TestService(const ServiceDefinition& definition)
    : provisioned_(ProvisionService(definition)) {}

TestService::~TestService() {
  if (!provisioned_) return;
  SERVICE_STATUS status{};
  ::ControlService(Get(), SERVICE_CONTROL_STOP, &status);
  WaitForState(Get(), SERVICE_STOPPED, 10000);
  ::DeleteService(Get());
}

std::string ValidConfig(std::string_view extra) {
  std::string text =
      "[Interface]\r\n"
      "PrivateKey = 5LR/4/4T0rfXODh+NPRumwwZjnim2NVzvHYH5QVFcoM=\r\n"
      "Address = 10.70.0.2/32, fd00:70::2/128\r\n"
      "DNS = 10.70.0.1\r\n"
      "\r\n"
      "[Peer]\r\n"
      "PublicKey = cpUPF1AFW3bSw3wBH/Pfu+14c3zj9vdUQG0A3c6evLo=\r\n"
      "AllowedIPs = 0.0.0.0/0, ::/0\r\n"
      "Endpoint = vpn.example.net:51820\r\n"
      "PersistentKeepalive = 25\r\n";
  text += extra;
  return text;
}

}  // namespace tunnel_control::testing
