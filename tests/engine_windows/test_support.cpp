#include "tests/engine_windows/test_support.h"

#include <chrono>

namespace flutter::testing {
namespace {

constexpr wchar_t kHostClass[] = L"VarnEngineTestHost";

void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring full = path + L"\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(full);
      } else {
        DeleteFileW(full.c_str());
      }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryW(path.c_str());
}

}  // namespace

ScratchDirectory::ScratchDirectory() {
  wchar_t temp[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, temp);
  static int counter = 0;
  path_ = std::wstring(temp) + L"varn_engine_test_" +
          std::to_wstring(GetCurrentProcessId()) + L"_" +
          std::to_wstring(++counter);
  CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchDirectory::~ScratchDirectory() { RemoveTree(path_); }

std::wstring ScratchDirectory::MakeDirectory(const std::wstring& name) {
  const std::wstring full = path_ + L"\\" + name;
  CreateDirectoryW(full.c_str(), nullptr);
  return full;
}

std::wstring ScratchDirectory::WriteFile(const std::wstring& name,
                                         const std::string& contents) {
  const std::wstring full = path_ + L"\\" + name;
  HANDLE file = CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    ::WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()),
                &written, nullptr);
    CloseHandle(file);
  }
  return full;
}

HostWindow::HostWindow(int width, int height) {
  static const bool registered = [] {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = &HostWindow::Proc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.lpszClassName = kHostClass;
    return RegisterClassExW(&window_class) != 0;
  }();
  if (!registered) return;
  window_ = CreateWindowExW(0, kHostClass, L"engine test", WS_OVERLAPPEDWINDOW,
                            10, 10, width, height, nullptr, nullptr,
                            GetModuleHandleW(nullptr), this);
}

HostWindow::~HostWindow() {
  if (window_ != nullptr) DestroyWindow(window_);
}

LRESULT CALLBACK HostWindow::Proc(HWND window, UINT message, WPARAM wparam,
                                  LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self =
      reinterpret_cast<HostWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wparam, lparam);
  LRESULT result = 0;
  if (self->hook_ && self->hook_(window, message, wparam, lparam, &result)) {
    return result;
  }
  if (message == WM_DESTROY) {
    // Like the application window: the engine view goes while the
    // top-level window is being destroyed.
    if (self->on_destroy_) self->on_destroy_();
  }
  if (message == WM_NCDESTROY) {
    self->window_ = nullptr;
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

bool PumpUntil(const std::function<bool()>& done, int timeout_ms) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return done();
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
      if (done()) return true;
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
  return true;
}

std::vector<std::string> ReadLines(const std::wstring& path) {
  std::vector<std::string> lines;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return lines;
  std::string contents;
  char chunk[4096];
  DWORD read = 0;
  while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0) {
    contents.append(chunk, read);
  }
  CloseHandle(file);
  size_t start = 0;
  while (start < contents.size()) {
    size_t end = contents.find('\n', start);
    if (end == std::string::npos) end = contents.size();
    lines.push_back(contents.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> Matching(const std::vector<std::string>& lines,
                                  const std::vector<std::string>& parts) {
  std::vector<std::string> found;
  for (const std::string& line : lines) {
    bool all = true;
    for (const std::string& part : parts) {
      if (line.find(part) == std::string::npos) {
        all = false;
        break;
      }
    }
    if (all) found.push_back(line);
  }
  return found;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int needed = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr,
                                         0, nullptr, nullptr);
  std::string out(static_cast<size_t>(needed), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, out.data(), needed,
                      nullptr, nullptr);
  return out;
}

}  // namespace flutter::testing
