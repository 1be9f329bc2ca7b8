#ifndef CODEC_METHOD_CALL_H_
#define CODEC_METHOD_CALL_H_

#include <memory>
#include <string>
#include <utility>

#include "codec/encodable_value.h"

namespace flutter {

// A decoded method call: the method's name and its argument value. Built
// once, then read-only.
template <typename T = EncodableValue>
class MethodCall {
 public:
  // Takes the name and the arguments; `arguments` may be null (no arguments).
  MethodCall(std::string call_name, std::unique_ptr<T> call_arguments)
      : call_name_(std::move(call_name)),
        call_arguments_(std::move(call_arguments)) {}
  virtual ~MethodCall() = default;

  MethodCall(const MethodCall&) = delete;
  MethodCall& operator=(const MethodCall&) = delete;

  // Returns the method name.
  const std::string& call_name() const { return call_name_; }

  // Returns the arguments, or nullptr when the call carries none.
  const T* call_arguments() const { return call_arguments_.get(); }

 private:
  std::string call_name_;
  std::unique_ptr<T> call_arguments_;
};

}  // namespace flutter

#endif  // CODEC_METHOD_CALL_H_
