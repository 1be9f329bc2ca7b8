#include "stand_ins/engine/messenger.h"

#include "stand_ins/engine/transcript.h"
#include "stand_ins/engine/view_controller.h"

namespace stand_in {
namespace {

void RecordFault(const char* kind, const ResponseHandle* handle) {
  JsonLine line("fault");
  line.Str("kind", kind);
  if (handle != nullptr) {
    line.Int("id", static_cast<int64_t>(handle->id))
        .Str("channel", handle->channel)
        .Str("method", handle->method);
  }
  Transcript::Get().Write(line);
}

}  // namespace

Messenger::Messenger() = default;

void Messenger::AddRef() { references_.fetch_add(1); }

void Messenger::Release() {
  if (references_.fetch_sub(1) == 1) delete this;
}

bool Messenger::IsAvailable() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return available_;
}

void Messenger::MarkUnavailable() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  available_ = false;
  view_ = nullptr;
  registrations_.clear();
}

void Messenger::AttachView(ViewController* view) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  view_ = view;
}

void Messenger::SetCallback(const char* channel,
                            FlutterDesktopMessageCallback callback,
                            void* user_data) {
  if (channel == nullptr) return;
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (callback == nullptr) {
      registrations_.erase(channel);
    } else {
      registrations_[channel] = Registration{callback, user_data};
    }
  }
  Transcript::Get().Write(JsonLine(callback ? "channel_set" : "channel_removed")
                              .Str("channel", channel));
}

ResponseHandle* Messenger::NewHandle(
    uint64_t id, std::string channel, std::string method,
    std::function<void(const uint8_t*, size_t)> on_reply) {
  auto handle = std::make_unique<ResponseHandle>();
  handle->id = id;
  handle->channel = std::move(channel);
  handle->method = std::move(method);
  handle->on_reply = std::move(on_reply);
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  handles_.push_back(std::move(handle));
  return handles_.back().get();
}

void Messenger::Deliver(const std::string& channel,
                        const std::vector<uint8_t>& bytes,
                        ResponseHandle* handle) {
  Registration registration;
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (!available_) return;
    auto it = registrations_.find(channel);
    if (it == registrations_.end()) {
      Transcript::Get().Write(JsonLine("unhandled")
                                  .Int("id", static_cast<int64_t>(handle->id))
                                  .Str("channel", channel));
      AnswerLocked(handle, nullptr, 0);
      return;
    }
    registration = it->second;
  }
  // The callback runs without the lock: the host may answer from inside it
  // or hand the answer to another thread.
  FlutterDesktopMessage message{};
  message.struct_size = sizeof(message);
  message.channel = channel.c_str();
  message.message = bytes.empty() ? nullptr : bytes.data();
  message.message_size = bytes.size();
  message.response_handle =
      reinterpret_cast<const FlutterDesktopMessageResponseHandle*>(handle);
  registration.callback(ToRef(), &message, registration.user_data);
}

void Messenger::SendResponse(const FlutterDesktopMessageResponseHandle* handle,
                             const uint8_t* data, size_t size) {
  // The handle's memory belongs to this messenger; the cast only undoes the
  // one made in Deliver.
  auto* record = reinterpret_cast<ResponseHandle*>(
      const_cast<FlutterDesktopMessageResponseHandle*>(handle));
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (record == nullptr) {
    RecordFault("null_response_handle", nullptr);
    return;
  }
  if (!available_) {
    RecordFault("reply_after_shutdown", record);
    return;
  }
  if (record->consumed) {
    RecordFault("second_response", record);
    return;
  }
  AnswerLocked(record, data, size);
}

void Messenger::AnswerLocked(ResponseHandle* handle, const uint8_t* data,
                             size_t size) {
  handle->consumed = true;
  auto on_reply = std::move(handle->on_reply);
  handle->on_reply = nullptr;
  if (on_reply) on_reply(data, size);
}

bool Messenger::Send(const char* channel, const uint8_t* /*data*/, size_t size,
                     FlutterDesktopBinaryReply reply, void* user_data) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!available_ || channel == nullptr) return false;
  Transcript::Get().Write(JsonLine("host_send")
                              .Str("channel", channel)
                              .Int("size", static_cast<int64_t>(size))
                              .Bool("with_reply", reply != nullptr));
  if (reply == nullptr) return true;
  if (view_ == nullptr) {
    // No window thread yet: answer right here, still exactly once.
    reply(nullptr, 0, user_data);
    return true;
  }
  // Answered on the window thread; if the view goes first, the answer is
  // given while the view shuts down, so it still arrives exactly once.
  auto answer = [reply, user_data] { reply(nullptr, 0, user_data); };
  view_->PostTask(answer, answer);
  return true;
}

}  // namespace stand_in
