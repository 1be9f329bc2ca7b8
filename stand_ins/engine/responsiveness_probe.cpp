#include "stand_ins/engine/responsiveness_probe.h"

#include <chrono>

namespace stand_in {
namespace {

constexpr auto kInterval = std::chrono::milliseconds(10);

}  // namespace

ResponsivenessProbe::~ResponsivenessProbe() { Stop(); }

void ResponsivenessProbe::Start(HWND window, UINT message) {
  Stop();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = false;
  }
  thread_ = std::thread([this, window, message] { Run(window, message); });
}

void ResponsivenessProbe::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

int64_t ResponsivenessProbe::Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

double ResponsivenessProbe::LatenessMs(int64_t posted_at) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(Now() - posted_at) * 1000.0 /
         static_cast<double>(frequency.QuadPart);
}

void ResponsivenessProbe::Run(HWND window, UINT message) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    PostMessageW(window, message, 0, static_cast<LPARAM>(Now()));
    wake_.wait_for(lock, kInterval, [this] { return stopping_; });
  }
}

}  // namespace stand_in
