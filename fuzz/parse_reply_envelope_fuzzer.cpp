// Arbitrary bytes as a reply envelope, delivered to a result that accepts
// anything: must never crash, and must deliver exactly one answer exactly
// when the first byte is an envelope byte.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <variant>

#include "codec/method_result.h"
#include "codec/standard_method_codec.h"
#include "fuzz/fuzz_support.h"

namespace {

class CountingResult : public flutter::MethodResult<flutter::EncodableValue> {
 public:
  int answers = 0;

 protected:
  void OnSuccess(const flutter::EncodableValue*) override { ++answers; }
  void OnError(const std::string&, const std::string&,
               const flutter::EncodableValue*) override {
    ++answers;
  }
  void OnNotImplemented() override { ++answers; }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  flutter::fuzzing::SilenceStandardError();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CountingResult result;
  bool is_envelope = size == 0 || data[0] == 0 || data[0] == 1;
  try {
    bool parsed =
        flutter::StandardMethodCodec::SharedInstance().ParseReplyEnvelope(
            data, size, &result);
    if (parsed != is_envelope || result.answers != (parsed ? 1 : 0)) {
      std::abort();
    }
  } catch (const std::bad_variant_access&) {
    // An error envelope whose code or message is not text: documented, and
    // nothing may have been delivered.
    if (size == 0 || data[0] != 1 || result.answers != 0) std::abort();
  }
  return 0;
}
