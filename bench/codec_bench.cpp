// Encodes and decodes each payload with our serializer and with msgpack-c,
// beside a plain copy of our encoded bytes, so that one run yields ratios.
//
// Each codec works from its own natural form of the same logical value: ours
// from and to EncodableValue; msgpack-c packs the plain C++ containers a
// program would hold (a dynamic object tree only for the nested lists, which
// have no plain C++ form) and unpacks into its owning object tree, strings
// copied, the counterpart of our decoded value. Both encoders start from an
// empty output buffer each time, as every reply of the channel does.
//
// Benchmark names are PAYLOAD/OPERATION/CONTENDER; tools/run_bench.sh turns
// them into the results table.

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <msgpack.hpp>
#include <string>
#include <utility>
#include <vector>

#include "bench/payloads.h"
#include "codec/byte_buffer_stream_reader.h"
#include "codec/byte_buffer_stream_writer.h"
#include "codec/encodable_value.h"
#include "codec/method_call.h"
#include "codec/method_result.h"
#include "codec/standard_codec_serializer.h"
#include "codec/standard_method_codec.h"

namespace bench {
namespace {

using flutter::EncodableValue;
using Bytes = std::vector<uint8_t>;
using Packer = msgpack::packer<msgpack::sbuffer>;

// Looked up once, as a channel does, so the registry's lock stays out of the
// timed loops.
const flutter::StandardCodecSerializer& Serializer() {
  static const flutter::StandardCodecSerializer& serializer =
      flutter::StandardCodecSerializer::SharedInstance();
  return serializer;
}

const flutter::StandardMethodCodec& Codec() {
  static const flutter::StandardMethodCodec& codec =
      flutter::StandardMethodCodec::SharedInstance();
  return codec;
}

// Encodes one value into a new byte vector.
Bytes EncodeValue(const EncodableValue& value) {
  Bytes encoded;
  flutter::ByteBufferStreamWriter writer(&encoded);
  Serializer().WriteValue(value, &writer);
  return encoded;
}

// Decodes one value and keeps the optimiser from dropping it.
void DecodeValue(const uint8_t* bytes, size_t size) {
  flutter::ByteBufferStreamReader reader(bytes, size);
  EncodableValue value = Serializer().ReadTaggedValue(&reader);
  benchmark::DoNotOptimize(value);
}

// Decodes a method call into an owned call.
void DecodeCall(const uint8_t* bytes, size_t size) {
  auto call = Codec().ParseMethodCall(bytes, size);
  benchmark::DoNotOptimize(call.get());
}

// Receives decoded reply envelopes and only looks at them.
class DiscardingResult : public flutter::MethodResult<EncodableValue> {
 protected:
  void OnSuccess(const EncodableValue* result) override {
    benchmark::DoNotOptimize(result);
  }
  void OnError(const std::string& code, const std::string& message,
               const EncodableValue* details) override {
    benchmark::DoNotOptimize(code.data());
    benchmark::DoNotOptimize(message.data());
    benchmark::DoNotOptimize(details);
  }
  void OnNotImplemented() override {}
};

void DecodeEnvelope(const uint8_t* bytes, size_t size) {
  DiscardingResult result;
  bool parsed = Codec().ParseReplyEnvelope(bytes, size, &result);
  benchmark::DoNotOptimize(parsed);
}

void UnpackMsgpack(const uint8_t* bytes, size_t size) {
  msgpack::object_handle handle =
      msgpack::unpack(reinterpret_cast<const char*>(bytes), size);
  benchmark::DoNotOptimize(handle.get().type);
}

// Registers the five benchmarks of one payload. `ours_encode` returns the
// encoded bytes; `ours_decode` decodes them; `pack` writes the msgpack-c
// encoding of the same logical value to a packer.
template <typename OursEncode, typename OursDecode, typename Pack>
void RegisterPayload(const std::string& payload, OursEncode ours_encode,
                     OursDecode ours_decode, Pack pack) {
  auto ours_bytes = std::make_shared<const Bytes>(ours_encode());
  auto packed = std::make_shared<msgpack::sbuffer>();
  {
    Packer packer(packed.get());
    pack(packer);
  }
  const int64_t size = static_cast<int64_t>(ours_bytes->size());

  auto name = [&payload](const char* operation) {
    return payload + "/" + operation;
  };
  benchmark::RegisterBenchmark(
      name("encode/ours").c_str(),
      [ours_encode, size](benchmark::State& state) {
        for (auto _ : state) {
          auto encoded = ours_encode();
          benchmark::DoNotOptimize(encoded.data());
        }
        state.SetBytesProcessed(state.iterations() * size);
        state.counters["encoded_bytes"] = static_cast<double>(size);
      });
  benchmark::RegisterBenchmark(
      name("decode/ours").c_str(),
      [ours_decode, ours_bytes, size](benchmark::State& state) {
        for (auto _ : state)
          ours_decode(ours_bytes->data(), ours_bytes->size());
        state.SetBytesProcessed(state.iterations() * size);
      });
  benchmark::RegisterBenchmark(
      name("encode/msgpack").c_str(), [pack, packed](benchmark::State& state) {
        for (auto _ : state) {
          msgpack::sbuffer buffer;
          Packer packer(&buffer);
          pack(packer);
          benchmark::DoNotOptimize(buffer.data());
        }
        state.counters["wire_bytes"] = static_cast<double>(packed->size());
      });
  benchmark::RegisterBenchmark(
      name("decode/msgpack").c_str(), [packed](benchmark::State& state) {
        for (auto _ : state) {
          UnpackMsgpack(reinterpret_cast<const uint8_t*>(packed->data()),
                        packed->size());
        }
      });
  benchmark::RegisterBenchmark(
      name("copy/memcpy").c_str(), [ours_bytes, size](benchmark::State& state) {
        Bytes target(ours_bytes->size());
        for (auto _ : state) {
          std::memcpy(target.data(), ours_bytes->data(), ours_bytes->size());
          benchmark::ClobberMemory();
        }
        state.SetBytesProcessed(state.iterations() * size);
      });
}

// Unwraps the codec's owned vectors so every encoder returns plain bytes.
Bytes Unwrap(std::unique_ptr<Bytes> encoded) { return std::move(*encoded); }

void RegisterTraffic() {
  auto values = std::make_shared<const TrafficValues>(MakeTrafficValues());

  auto connect_call = std::make_shared<const flutter::MethodCall<>>(
      values->connect_name,
      std::make_unique<EncodableValue>(values->connect_arguments));
  RegisterPayload(
      "connect",
      [connect_call] {
        return Unwrap(Codec().SerializeMethodCall(*connect_call));
      },
      DecodeCall,
      [values](Packer& packer) {
        packer.pack_array(2);
        packer.pack(values->connect_name);
        packer.pack(values->connect_arguments_native);
      });

  auto stage_call = std::make_shared<const flutter::MethodCall<>>(
      values->stage_name, nullptr);
  RegisterPayload(
      "stage",
      [stage_call] { return Unwrap(Codec().SerializeMethodCall(*stage_call)); },
      DecodeCall,
      [values](Packer& packer) {
        packer.pack_array(2);
        packer.pack(values->stage_name);
        packer.pack_nil();
      });

  auto connected = std::make_shared<const EncodableValue>(values->success_text);
  RegisterPayload(
      "success",
      [connected] {
        return Unwrap(Codec().EncodeSuccessReply(connected.get()));
      },
      DecodeEnvelope,
      [values](Packer& packer) {
        packer.pack_array(2);
        packer.pack(0);
        packer.pack(values->success_text);
      });

  RegisterPayload(
      "busy",
      [values] {
        return Unwrap(Codec().EncodeErrorReply(values->busy_code,
                                               values->busy_message, nullptr));
      },
      DecodeEnvelope,
      [values](Packer& packer) {
        packer.pack_array(4);
        packer.pack(1);
        packer.pack(values->busy_code);
        packer.pack(values->busy_message);
        packer.pack_nil();
      });
}

void RegisterBulk() {
  auto values = std::make_shared<const BulkValues>(MakeBulkValues());
  RegisterPayload(
      "uint8_list", [values] { return EncodeValue(values->bytes_value); },
      DecodeValue, [values](Packer& packer) { packer.pack(values->bytes); });
  RegisterPayload(
      "float64_list", [values] { return EncodeValue(values->doubles_value); },
      DecodeValue, [values](Packer& packer) { packer.pack(values->doubles); });
  RegisterPayload(
      "int32_list", [values] { return EncodeValue(values->int32s_value); },
      DecodeValue, [values](Packer& packer) { packer.pack(values->int32s); });
}

// Builds the nested lists as a msgpack-c object tree inside `zone`.
msgpack::object MakeNestedObject(msgpack::zone& zone) {
  msgpack::object level;
  for (int depth = kNestingDepth - 1; depth >= 0; --depth) {
    const uint32_t count = depth == kNestingDepth - 1 ? 1 : 2;
    auto* items = static_cast<msgpack::object*>(
        zone.allocate_align(sizeof(msgpack::object) * count));
    items[0] = msgpack::object(static_cast<int32_t>(depth));
    if (count == 2) items[1] = level;
    level.type = msgpack::type::ARRAY;
    level.via.array.size = count;
    level.via.array.ptr = items;
  }
  return level;
}

void RegisterStructure() {
  auto values = std::make_shared<const StructureValues>(MakeStructureValues());
  RegisterPayload(
      "string_map", [values] { return EncodeValue(values->map_value); },
      DecodeValue,
      [values](Packer& packer) { packer.pack(values->map_native); });
  RegisterPayload(
      "mixed_list", [values] { return EncodeValue(values->mixed_value); },
      DecodeValue,
      [values](Packer& packer) {
        packer.pack_array(static_cast<uint32_t>(values->mixed_native.size()));
        for (const MixedElement& element : values->mixed_native) {
          switch (element.index()) {
            case 0:
              packer.pack_nil();
              break;
            case 1:
              packer.pack(std::get<bool>(element));
              break;
            case 2:
              packer.pack(std::get<int32_t>(element));
              break;
            default:
              packer.pack(std::get<std::string>(element));
              break;
          }
        }
      });
  auto zone = std::make_shared<msgpack::zone>();
  auto nested =
      std::make_shared<const msgpack::object>(MakeNestedObject(*zone));
  RegisterPayload(
      "nested_lists", [values] { return EncodeValue(values->nested_value); },
      DecodeValue, [zone, nested](Packer& packer) { packer.pack(*nested); });
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  bench::RegisterTraffic();
  bench::RegisterBulk();
  bench::RegisterStructure();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
