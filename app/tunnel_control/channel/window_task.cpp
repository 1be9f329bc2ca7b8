#include "app/tunnel_control/channel/window_task.h"

#include <map>
#include <mutex>

namespace tunnel_control {
namespace {

// Tasks posted and not yet taken, with the window each was posted to. A task
// whose window died before dispatching it stays here, as its memory would
// leak anyway: nobody can tell whether the message is still queued.
struct InFlight {
  std::mutex mutex;
  std::map<WindowTask*, HWND> tasks;
};

InFlight& Tasks() {
  // Never destroyed: an operation thread may still post while the process
  // runs its exit-time destructors.
  static InFlight* in_flight = new InFlight();
  return *in_flight;
}

}  // namespace

bool PostWindowTask(HWND window, std::unique_ptr<WindowTask> task) {
  InFlight& in_flight = Tasks();
  {
    // Noted before the post: the window thread may take it at once.
    std::lock_guard<std::mutex> lock(in_flight.mutex);
    in_flight.tasks.emplace(task.get(), window);
  }
  WindowTask* posted = task.release();
  if (PostMessageW(window, kWindowTaskMessage, 0,
                   reinterpret_cast<LPARAM>(posted))) {
    return true;
  }
  std::unique_ptr<WindowTask> unsent;
  {
    std::lock_guard<std::mutex> lock(in_flight.mutex);
    // Only ours to free if nobody took it meanwhile (a foreign post of the
    // same number and address).
    if (in_flight.tasks.erase(posted) != 0) unsent.reset(posted);
  }
  return false;
}

std::unique_ptr<WindowTask> TakeWindowTask(HWND window, LPARAM lparam) {
  auto* address = reinterpret_cast<WindowTask*>(lparam);
  InFlight& in_flight = Tasks();
  std::lock_guard<std::mutex> lock(in_flight.mutex);
  auto found = in_flight.tasks.find(address);
  if (found == in_flight.tasks.end() || found->second != window) {
    return nullptr;
  }
  in_flight.tasks.erase(found);
  return std::unique_ptr<WindowTask>(address);
}

}  // namespace tunnel_control
