// Shared helpers of the Windows tests against the stand-in engine library:
// scratch files, a host top-level window, a message pump and transcript
// reading.
#ifndef TESTS_ENGINE_WINDOWS_TEST_SUPPORT_H_
#define TESTS_ENGINE_WINDOWS_TEST_SUPPORT_H_

#include <functional>
#include <string>
#include <vector>

#include "win/windows_api.h"

namespace flutter::testing {

// A fresh scratch directory under the temp folder, removed with its files.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::wstring& path() const { return path_; }
  // Creates a subdirectory (and returns its full path).
  std::wstring MakeDirectory(const std::wstring& name);
  // Writes `contents` to a file (and returns its full path).
  std::wstring WriteFile(const std::wstring& name, const std::string& contents);

 private:
  std::wstring path_;
};

// A plain top-level window standing in for the application's window: it
// offers every message to its hook first; WM_CLOSE destroys it.
class HostWindow {
 public:
  using Hook = std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT* result)>;

  HostWindow(int width, int height);
  ~HostWindow();
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;

  HWND handle() const { return window_; }
  bool destroyed() const { return window_ == nullptr; }
  void set_hook(Hook hook) { hook_ = std::move(hook); }
  // Runs when the window receives WM_DESTROY.
  void set_on_destroy(std::function<void()> on_destroy) {
    on_destroy_ = std::move(on_destroy);
  }

 private:
  static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);

  HWND window_ = nullptr;
  Hook hook_;
  std::function<void()> on_destroy_;
};

// Dispatches this thread's messages until `done` returns true or
// `timeout_ms` passes; returns the last value of `done`.
bool PumpUntil(const std::function<bool()>& done, int timeout_ms);

// Lines of a JSON-lines file, read with sharing so the writer may keep it
// open.
std::vector<std::string> ReadLines(const std::wstring& path);

// The lines of `lines` that contain every one of `parts`.
std::vector<std::string> Matching(const std::vector<std::string>& lines,
                                  const std::vector<std::string>& parts);

// The transcript file every test of the process shares (the library opens
// it once); set up by the test program's main.
const std::wstring& TranscriptPath();

// Converts for the environment and file APIs.
std::string Narrow(const std::wstring& wide);

}  // namespace flutter::testing

#endif  // TESTS_ENGINE_WINDOWS_TEST_SUPPORT_H_
