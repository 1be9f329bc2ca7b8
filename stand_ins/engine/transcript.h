// The process-wide JSON-lines record of everything the stand-in engine saw.
#ifndef STAND_INS_ENGINE_TRANSCRIPT_H_
#define STAND_INS_ENGINE_TRANSCRIPT_H_

#include <cstdint>
#include <mutex>
#include <string>

#include "stand_ins/engine/json_line.h"
#include "win/windows_api.h"

namespace stand_in {

class Transcript {
 public:
  // Returns the one transcript of the process. The first call opens the file
  // named by VARN_STANDIN_TRANSCRIPT, so one process writes one transcript
  // even when it creates several engines.
  static Transcript& Get();

  ~Transcript();
  Transcript(const Transcript&) = delete;
  Transcript& operator=(const Transcript&) = delete;

  // Appends one event line to the file (unbuffered, so readers see it at
  // once), with the time and this process's id. Safe on any thread.
  void Write(const JsonLine& line);

  // Milliseconds since the process first used the transcript.
  int64_t ElapsedMs() const;

 private:
  Transcript();

  mutable std::mutex mutex_;
  HANDLE file_ = INVALID_HANDLE_VALUE;
  DWORD process_id_ = 0;
  LARGE_INTEGER start_{};
  LARGE_INTEGER frequency_{};
};

}  // namespace stand_in

#endif  // STAND_INS_ENGINE_TRANSCRIPT_H_
