// Arbitrary bytes as an incoming method call: must never crash, and a call
// that decodes must survive being encoded and decoded again.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "codec/standard_method_codec.h"
#include "fuzz/fuzz_support.h"
#include "tests/codec/codec_test_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  flutter::fuzzing::SilenceStandardError();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto& codec = flutter::StandardMethodCodec::SharedInstance();
  auto call = codec.ParseMethodCall(data, size);
  if (!call) return 0;
  if (call->call_arguments() == nullptr) std::abort();  // always supplied
  if (flutter::fuzzing::HasNaNInKey(*call->call_arguments())) return 0;

  auto encoded = codec.SerializeMethodCall(*call);
  auto again = codec.ParseMethodCall(encoded->data(), encoded->size());
  if (!again || again->call_name() != call->call_name() ||
      !flutter::testing::SameValue(*again->call_arguments(),
                                   *call->call_arguments())) {
    std::abort();
  }
  return 0;
}
