#include "stand_ins/engine/ui_caller.h"

#include <memory>
#include <utility>
#include <variant>

#include "codec/method_call.h"
#include "codec/method_result.h"
#include "codec/standard_method_codec.h"
#include "stand_ins/engine/json_value.h"
#include "stand_ins/engine/transcript.h"
#include "stand_ins/engine/view_controller.h"

namespace stand_in {
namespace {

using flutter::EncodableValue;

// Collects whichever answer the reply envelope carries.
class OutcomeResult : public flutter::MethodResult<EncodableValue> {
 public:
  explicit OutcomeResult(CallOutcome* outcome) : outcome_(outcome) {}

 protected:
  void OnSuccess(const EncodableValue* result) override {
    outcome_->kind = "success";
    if (result != nullptr) outcome_->value = *result;
  }
  void OnError(const std::string& code, const std::string& message,
               const EncodableValue* details) override {
    outcome_->kind = "error";
    outcome_->code = code;
    // The envelope carries an empty message as null.
    if (!message.empty()) outcome_->message = message;
    if (details != nullptr) outcome_->details = *details;
  }
  void OnNotImplemented() override { outcome_->kind = "not_implemented"; }

 private:
  CallOutcome* outcome_;
};

CallOutcome Decode(const uint8_t* data, size_t size) {
  CallOutcome outcome;
  if (size == 0) {
    outcome.kind = "not_implemented";
    return outcome;
  }
  OutcomeResult result(&outcome);
  bool parsed = false;
  try {
    parsed = flutter::StandardMethodCodec::SharedInstance().ParseReplyEnvelope(
        data, size, &result);
  } catch (const std::bad_variant_access&) {
    parsed = false;
  }
  if (!parsed || outcome.kind.empty()) {
    outcome = CallOutcome();
    outcome.kind = "invalid";
  }
  return outcome;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

}  // namespace

UiCaller::UiCaller(Messenger* messenger, ViewController* view)
    : messenger_(messenger), view_(view) {
  messenger_->AddRef();
}

UiCaller::~UiCaller() { messenger_->Release(); }

uint64_t UiCaller::Call(const std::string& channel, const std::string& method,
                        const EncodableValue& arguments,
                        const std::string& source, Done done) {
  flutter::MethodCall<EncodableValue> call(
      method, std::make_unique<EncodableValue>(arguments));
  std::unique_ptr<std::vector<uint8_t>> bytes =
      flutter::StandardMethodCodec::SharedInstance().SerializeMethodCall(call);
  Pending pending{channel, method, source, arguments, {}, std::move(done)};
  return Send(std::move(pending), std::move(*bytes));
}

uint64_t UiCaller::SendRaw(const std::string& channel,
                           const std::vector<uint8_t>& bytes,
                           const std::string& source) {
  return Send(Pending{channel, "", source, EncodableValue(), {}, {}}, bytes);
}

uint64_t UiCaller::Send(Pending pending, std::vector<uint8_t> bytes) {
  uint64_t id = 0;
  const std::string channel = pending.channel;
  const std::string method = pending.method;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    id = next_id_++;
    JsonLine line("call");
    line.Int("id", static_cast<int64_t>(id))
        .Str("channel", channel)
        .Str("method", method);
    if (method.empty()) {
      line.Str("bytes", Hex(bytes));
    } else {
      line.Raw("arguments", ToJson(pending.arguments));
    }
    line.Str("source", pending.source);
    // Written under the lock so "call" lines appear in id order.
    Transcript::Get().Write(line);
    pending.sent = std::chrono::steady_clock::now();
    pending_[id] = std::move(pending);
  }
  // No lock of ours is held here: the messenger's lock is taken before ours
  // when answers arrive.
  ResponseHandle* handle = messenger_->NewHandle(
      id, channel, method, [this, id](const uint8_t* data, size_t size) {
        OnReply(id, data, size);
      });
  Messenger* messenger = messenger_;
  auto shared_bytes = std::make_shared<std::vector<uint8_t>>(std::move(bytes));
  view_->PostTask([messenger, channel, shared_bytes, handle] {
    messenger->Deliver(channel, *shared_bytes, handle);
  });
  return id;
}

void UiCaller::OnReply(uint64_t id, const uint8_t* data, size_t size) {
  CallOutcome outcome = Decode(data, size);
  Pending pending;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = pending_.find(id);
    if (it == pending_.end()) return;
    pending = std::move(it->second);
    pending_.erase(it);
    outcome.ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - pending.sent)
                     .count();
    outcomes_[id] = outcome;
  }
  const bool is_error = outcome.kind == "error";
  const bool is_success = outcome.kind == "success";
  JsonLine line("reply");
  line.Int("id", static_cast<int64_t>(id))
      .Str("channel", pending.channel)
      .Str("method", pending.method)
      .Str("kind", outcome.kind)
      .Raw("value", is_success ? ToJson(outcome.value) : "null");
  if (is_error) {
    line.Str("code", outcome.code)
        .OptStr("message", outcome.message)
        .Raw("details", ToJson(outcome.details));
  } else {
    line.Null("code").Null("message").Null("details");
  }
  line.Int("ms", outcome.ms).Str("source", pending.source);
  Transcript::Get().Write(line);
  if (outcome.kind == "invalid") {
    Transcript::Get().Write(JsonLine("fault")
                                .Str("kind", "bad_reply")
                                .Int("id", static_cast<int64_t>(id))
                                .Str("channel", pending.channel)
                                .Str("method", pending.method));
  }
  answered_.notify_all();
  if (pending.done) pending.done(outcome);
  if (observer_ && !pending.method.empty()) {
    observer_(pending.method, pending.arguments, pending.source, outcome);
  }
}

std::optional<CallOutcome> UiCaller::WaitFor(uint64_t id, int64_t timeout_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  const bool answered =
      answered_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                         [&] { return outcomes_.count(id) != 0; });
  if (!answered) return std::nullopt;
  return outcomes_[id];
}

bool UiCaller::WaitAll(int64_t timeout_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return answered_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                            [&] { return pending_.empty(); });
}

}  // namespace stand_in
