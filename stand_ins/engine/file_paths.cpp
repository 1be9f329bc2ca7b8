#include "stand_ins/engine/file_paths.h"

#include <vector>

#include "win/windows_api.h"

namespace stand_in {
namespace {

bool IsAbsolute(const std::wstring& path) {
  if (path.size() >= 2 && path[1] == L':') return true;
  return !path.empty() && (path[0] == L'\\' || path[0] == L'/');
}

// Closes a file handle at scope exit.
class ScopedFile {
 public:
  explicit ScopedFile(HANDLE file) : file_(file) {}
  ~ScopedFile() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;
  HANDLE Get() const { return file_; }

 private:
  HANDLE file_;
};

}  // namespace

std::wstring PathFromEnvironment(const wchar_t* name) {
  const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
  if (needed == 0) return {};
  std::wstring value(needed, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, value.data(), needed);
  if (length == 0 || length >= needed) return {};
  value.resize(length);
  if (!value.empty() && value[0] == L'/') {
    for (wchar_t& c : value) {
      if (c == L'/') c = L'\\';
    }
    value.insert(0, L"Z:");
  }
  return value;
}

std::wstring ResolveBesideExecutable(const std::wstring& path) {
  if (IsAbsolute(path)) return path;
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(),
                                            static_cast<DWORD>(buffer.size()));
    if (length == 0) return path;
    if (length < buffer.size()) {
      std::wstring exe(buffer.data(), length);
      const size_t slash = exe.find_last_of(L"\\/");
      if (slash == std::wstring::npos) return path;
      return exe.substr(0, slash + 1) + path;
    }
    buffer.resize(buffer.size() * 2);
  }
}

bool DirectoryExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ReadWholeFile(const std::wstring& path, std::string* contents) {
  ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr));
  if (file.Get() == INVALID_HANDLE_VALUE) return false;
  contents->clear();
  char chunk[4096];
  DWORD read = 0;
  while (ReadFile(file.Get(), chunk, sizeof(chunk), &read, nullptr) &&
         read > 0) {
    contents->append(chunk, read);
  }
  return true;
}

}  // namespace stand_in
