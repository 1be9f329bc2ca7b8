#include "stand_ins/engine/transcript.h"

#include "stand_ins/engine/file_paths.h"

namespace stand_in {

Transcript& Transcript::Get() {
  static Transcript transcript;
  return transcript;
}

Transcript::Transcript() {
  QueryPerformanceFrequency(&frequency_);
  QueryPerformanceCounter(&start_);
  const std::wstring path = PathFromEnvironment(L"VARN_STANDIN_TRANSCRIPT");
  if (path.empty()) return;
  // Appending, never truncating: a child process that inherits the
  // variable (the elevated installer) must not wipe the application's
  // lines. Shared access lets a test follow the file while it grows.
  file_ = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
  process_id_ = GetCurrentProcessId();
}

Transcript::~Transcript() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

int64_t Transcript::ElapsedMs() const {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return (now.QuadPart - start_.QuadPart) * 1000 / frequency_.QuadPart;
}

void Transcript::Write(const JsonLine& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_ == INVALID_HANDLE_VALUE) return;
  // The time is taken under the lock so that it never goes backwards.
  const std::string text = "{\"event\":" + JsonLine::Quote(line.event()) +
                           ",\"t_ms\":" + std::to_string(ElapsedMs()) +
                           ",\"pid\":" + std::to_string(process_id_) +
                           line.fields() + "}\n";
  DWORD written = 0;
  WriteFile(file_, text.data(), static_cast<DWORD>(text.size()), &written,
            nullptr);
}

}  // namespace stand_in
