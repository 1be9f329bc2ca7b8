#ifndef CODEC_METHOD_RESULT_H_
#define CODEC_METHOD_RESULT_H_

#include <string>

#include "codec/encodable_value.h"

namespace flutter {

// The one answer to one method call: success (with or without a value), an
// error, or not-implemented. Implementations decide what answering means.
template <typename T = EncodableValue>
class MethodResult {
 public:
  MethodResult() = default;
  virtual ~MethodResult() = default;

  MethodResult(const MethodResult&) = delete;
  MethodResult& operator=(const MethodResult&) = delete;

  // Answers with success and `result`.
  void Success(const T& result) { OnSuccess(&result); }

  // Answers with success and no value.
  void Success() { OnSuccess(nullptr); }

  // Answers with an error and `error_details`.
  void Error(const std::string& error_code, const std::string& error_message,
             const T& error_details) {
    OnError(error_code, error_message, &error_details);
  }

  // Answers with an error without details.
  void Error(const std::string& error_code,
             const std::string& error_message = "") {
    OnError(error_code, error_message, nullptr);
  }

  // Answers that the method is not implemented.
  void NotImplemented() { OnNotImplemented(); }

 protected:
  // Handles success; `result` is nullptr for success without a value.
  virtual void OnSuccess(const T* result) = 0;

  // Handles an error; `error_details` is nullptr when there are none.
  virtual void OnError(const std::string& error_code,
                       const std::string& error_message,
                       const T* error_details) = 0;

  // Handles not-implemented.
  virtual void OnNotImplemented() = 0;
};

}  // namespace flutter

#endif  // CODEC_METHOD_RESULT_H_
