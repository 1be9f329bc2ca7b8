// Work handed from a background thread to the window thread through the
// window's message queue.
#ifndef APP_TUNNEL_CONTROL_CHANNEL_WINDOW_TASK_H_
#define APP_TUNNEL_CONTROL_CHANNEL_WINDOW_TASK_H_

#include <functional>
#include <memory>

#include "win/windows_api.h"

namespace tunnel_control {

// Work for the window thread, carried by kWindowTaskMessage in lParam. The
// window runs it once and deletes it.
using WindowTask = std::function<void()>;

// A fixed message number, neither registered nor relative to WM_APP, so the
// window and the runner agree on it without any set-up. It lies in the range
// of registered messages, so other programs may send it too: only addresses
// that PostWindowTask put in flight are ever taken as tasks.
inline constexpr UINT kWindowTaskMessage = 0xF101;

// Posts `task` to `window` as kWindowTaskMessage and notes it as in flight
// to that window. Returns false, with the task already freed, when the post
// fails. Any thread.
bool PostWindowTask(HWND window, std::unique_ptr<WindowTask> task);

// Takes back the task at `lparam` that PostWindowTask sent to `window`; null
// for any other value, which then belongs to someone else and must not be
// touched. Call on the window's thread when kWindowTaskMessage arrives.
std::unique_ptr<WindowTask> TakeWindowTask(HWND window, LPARAM lparam);

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_CHANNEL_WINDOW_TASK_H_
