#include "codec/standard_codec_serializer.h"

#include <bit>
#include <cstring>
#include <iostream>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <variant>
#include <vector>

#include "codec/byte_buffer_stream_reader.h"
#include "codec/standard_codec_tags.h"

namespace flutter {
namespace {

// Numbers travel little-endian; on a little-endian host every number and
// every typed list moves as a plain block copy.
static_assert(std::endian::native == std::endian::little,
              "the wire format is little-endian");

// The index of alternative T in EncodableVariant, which WriteValue switches
// on.
template <typename T, size_t I = 0>
constexpr size_t IndexOf() {
  if constexpr (std::is_same_v<std::variant_alternative_t<I, EncodableVariant>,
                               T>) {
    return I;
  } else {
    return IndexOf<T, I + 1>();
  }
}

constexpr uint8_t kSize16 = 254;
constexpr uint8_t kSize32 = 255;

// Decoding state of the lists and maps open on this thread. The depth is per
// thread because the recursion it bounds uses the thread's stack. `committed`
// counts the bytes of `reader` that enclosing lists and maps still need for
// their unread elements (at least one byte each, two per map entry); a value
// may only claim what is left beyond them, so nested containers cannot each
// claim the whole message and reserve memory quadratic in its size. The
// serializer itself stays stateless and shareable.
struct DecodeState {
  int depth = 0;
  const ByteStreamReader* reader = nullptr;
  size_t committed = 0;
};
thread_local DecodeState decode_state;

// Returns the bytes of `source` that the value being read may still use.
template <typename Source>
size_t AvailableBytes(const Source& source) {
  size_t remaining = source.BytesRemaining();
  size_t committed =
      decode_state.reader == source.stream() ? decode_state.committed : 0;
  return remaining > committed ? remaining - committed : 0;
}

// One open list or map. Restores the enclosing state when it closes, also
// when an extension throws; a value read from another stream (a message
// nested inside an extension's value) starts with nothing committed.
class ContainerScope {
 public:
  explicit ContainerScope(const ByteStreamReader* stream)
      : saved_(decode_state) {
    ++decode_state.depth;
    if (decode_state.reader != stream) {
      decode_state.reader = stream;
      decode_state.committed = 0;
    }
  }
  ~ContainerScope() { decode_state = saved_; }
  ContainerScope(const ContainerScope&) = delete;
  ContainerScope& operator=(const ContainerScope&) = delete;

  // Reserves `bytes` for elements not read yet.
  void Commit(size_t bytes) { decode_state.committed += bytes; }
  // Hands one committed byte to the element about to be read.
  void Release() { --decode_state.committed; }

 private:
  DecodeState saved_;
};

// Reads through a caller's reader. Nested values go back through the
// serializer's virtual ReadValueOfType, so an override applies at every depth.
class StreamSource {
 public:
  StreamSource(const StandardCodecSerializer& serializer,
               ByteStreamReader* stream)
      : serializer_(serializer), stream_(stream) {}

  uint8_t GetByte() { return stream_->GetByte(); }
  void GetBytes(uint8_t* buffer, size_t length) {
    stream_->GetBytes(buffer, length);
  }
  void SkipToAlignment(uint8_t alignment) {
    stream_->SkipToAlignment(alignment);
  }
  size_t BytesRemaining() const { return stream_->BytesRemaining(); }
  size_t PaddingTo(uint8_t alignment) const {
    return stream_->PaddingTo(alignment);
  }
  const uint8_t* TakeInPlace(size_t length) {
    return stream_->TakeInPlace(length);
  }
  const ByteStreamReader* stream() const { return stream_; }
  EncodableValue ReadNested(uint8_t type) {
    return serializer_.ReadValueOfType(type, stream_);
  }

 private:
  const StandardCodecSerializer& serializer_;
  ByteStreamReader* stream_;
};

template <typename Source>
EncodableValue ReadValueFrom(uint8_t type, Source& source);

// Reads a ByteBufferStreamReader for the standard serializer, used only when
// neither is a derived class: then no override can be bypassed, and the
// reader's calls are bound at compile time and inlined instead of costing a
// virtual call per byte.
class BufferSource {
 public:
  explicit BufferSource(ByteBufferStreamReader* reader) : reader_(reader) {}

  uint8_t GetByte() { return reader_->ByteBufferStreamReader::GetByte(); }
  void GetBytes(uint8_t* buffer, size_t length) {
    reader_->ByteBufferStreamReader::GetBytes(buffer, length);
  }
  void SkipToAlignment(uint8_t alignment) {
    reader_->ByteBufferStreamReader::SkipToAlignment(alignment);
  }
  size_t BytesRemaining() const {
    return reader_->ByteBufferStreamReader::BytesRemaining();
  }
  size_t PaddingTo(uint8_t alignment) const {
    return reader_->ByteBufferStreamReader::PaddingTo(alignment);
  }
  const uint8_t* TakeInPlace(size_t length) {
    return reader_->ByteBufferStreamReader::TakeInPlace(length);
  }
  const ByteStreamReader* stream() const { return reader_; }
  EncodableValue ReadNested(uint8_t type) { return ReadValueFrom(type, *this); }

 private:
  ByteBufferStreamReader* reader_;
};

template <typename T, typename Source>
T ReadScalar(Source& source) {
  uint8_t bytes[sizeof(T)] = {};
  source.GetBytes(bytes, sizeof(T));
  T value;
  std::memcpy(&value, bytes, sizeof(T));
  return value;
}

template <typename T>
void WriteScalar(T value, ByteStreamWriter* stream) {
  uint8_t bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  stream->PutBytes(bytes, sizeof(T));
}

// Reads `size` bytes that the caller has checked are present: straight from
// the input when the reader holds it in memory, so the bytes are copied once.
template <typename Container, typename Source>
Container ReadByteBlock(Source& source, size_t size) {
  using Element = typename Container::value_type;
  if (const uint8_t* in_place = source.TakeInPlace(size)) {
    const Element* first = reinterpret_cast<const Element*>(in_place);
    return Container(first, first + size);
  }
  Container block(size, Element{});
  source.GetBytes(reinterpret_cast<uint8_t*>(block.data()), size);
  return block;
}

// Reads a size field: one byte, or 254/255 followed by 2 or 4 bytes.
template <typename Source>
size_t ReadSizeFrom(Source& source) {
  uint8_t first = source.GetByte();
  if (first < kSize16) return first;
  if (first == kSize16) return ReadScalar<uint16_t>(source);
  return ReadScalar<uint32_t>(source);
}

// Reads the count, padding and elements of a typed list in one block copy.
template <typename T, typename Source>
EncodableValue ReadTypedList(Source& source) {
  constexpr uint8_t kAlignment = sizeof(T);
  size_t count = ReadSizeFrom(source);
  size_t padding = source.PaddingTo(kAlignment);
  size_t remaining = AvailableBytes(source);
  if (padding > remaining || count > (remaining - padding) / sizeof(T)) {
    ByteStreamReader::ReportInvalidRead();
    return EncodableValue(std::vector<T>());
  }
  // Also after a zero count, so what follows an empty list stays aligned the
  // same way on both sides.
  source.SkipToAlignment(kAlignment);
  const size_t length = count * sizeof(T);
  if (const uint8_t* in_place = source.TakeInPlace(length)) {
    // Built straight from the input as one block copy, with no zero fill
    // first; the padding makes the elements aligned whenever the message
    // itself is.
    if (reinterpret_cast<uintptr_t>(in_place) % alignof(T) == 0) {
      const T* first = reinterpret_cast<const T*>(in_place);
      return EncodableValue(std::vector<T>(first, first + count));
    }
    std::vector<T> list(count);
    if (length != 0) std::memcpy(list.data(), in_place, length);
    return EncodableValue(std::move(list));
  }
  std::vector<T> list(count);
  source.GetBytes(reinterpret_cast<uint8_t*>(list.data()), length);
  return EncodableValue(std::move(list));
}

void WriteNullForOversize() {
  std::cerr << "Value too large for StandardCodecSerializer::WriteValue "
               "(over 4294967295 elements); written as null."
            << std::endl;
}

template <typename T>
void WriteTypedList(const StandardCodecSerializer& serializer,
                    const std::vector<T>& list, uint8_t tag,
                    ByteStreamWriter* stream) {
  if (list.size() > StandardCodecSerializer::kMaxSize) {
    WriteNullForOversize();
    stream->PutByte(kNull);
    return;
  }
  stream->PutByte(tag);
  serializer.WriteSizeField(list.size(), stream);
  // Padded also for an empty list, matching the reader.
  stream->PadToAlignment(sizeof(T));
  if (!list.empty()) {
    stream->PutBytes(reinterpret_cast<const uint8_t*>(list.data()),
                     list.size() * sizeof(T));
  }
}

// Reads the payload of a value whose tag `type` has been read; the one
// definition of the decoding for both kinds of source.
template <typename Source>
EncodableValue ReadValueFrom(uint8_t type, Source& source) {
  switch (type) {
    case kNull:
      return EncodableValue();
    case kTrue:
      return EncodableValue(true);
    case kFalse:
      return EncodableValue(false);
    case kInt32:
      return EncodableValue(ReadScalar<int32_t>(source));
    case kInt64:
      return EncodableValue(ReadScalar<int64_t>(source));
    case kFloat64:
      source.SkipToAlignment(8);
      return EncodableValue(ReadScalar<double>(source));
    case kLargeInt:
    case kString: {
      size_t size = ReadSizeFrom(source);
      if (size > AvailableBytes(source)) {
        ByteStreamReader::ReportInvalidRead();
        return EncodableValue(std::string());
      }
      return EncodableValue(ReadByteBlock<std::string>(source, size));
    }
    case kUInt8List: {
      size_t size = ReadSizeFrom(source);
      if (size > AvailableBytes(source)) {
        ByteStreamReader::ReportInvalidRead();
        return EncodableValue(std::vector<uint8_t>());
      }
      return EncodableValue(ReadByteBlock<std::vector<uint8_t>>(source, size));
    }
    case kInt32List:
      return ReadTypedList<int32_t>(source);
    case kInt64List:
      return ReadTypedList<int64_t>(source);
    case kFloat64List:
      return ReadTypedList<double>(source);
    case kFloat32List:
      return ReadTypedList<float>(source);
    case kList:
    case kMap:
      break;
    default:
      std::cerr << "Unknown type in StandardCodecSerializer::ReadValueOfType: "
                << static_cast<int>(type) << std::endl;
      return EncodableValue();
  }

  // Lists and maps recurse; past the depth bound the value is left unread so
  // that hostile nesting cannot exhaust the stack.
  if (decode_state.depth >= StandardCodecSerializer::kMaxNestingDepth) {
    std::cerr << "Nesting deeper than "
              << StandardCodecSerializer::kMaxNestingDepth
              << " levels in StandardCodecSerializer::ReadValueOfType; "
                 "value read as null."
              << std::endl;
    return EncodableValue();
  }
  ContainerScope scope(source.stream());
  size_t count = ReadSizeFrom(source);
  size_t available = AvailableBytes(source);
  if (type == kList) {
    // Each element takes at least its tag byte.
    if (count > available) {
      ByteStreamReader::ReportInvalidRead();
      return EncodableValue(ValueList());
    }
    ValueList list;
    list.reserve(count);
    scope.Commit(count);
    for (size_t i = 0; i < count; ++i) {
      scope.Release();
      uint8_t element_type = source.GetByte();
      list.push_back(source.ReadNested(element_type));
    }
    return EncodableValue(std::move(list));
  }
  // Each entry takes at least a key tag and a value tag.
  if (count > available / 2) {
    ByteStreamReader::ReportInvalidRead();
    return EncodableValue(ValueMap());
  }
  ValueMap map;
  scope.Commit(2 * count);
  for (size_t i = 0; i < count; ++i) {
    scope.Release();
    uint8_t key_type = source.GetByte();
    EncodableValue key = source.ReadNested(key_type);
    scope.Release();
    uint8_t value_type = source.GetByte();
    EncodableValue value = source.ReadNested(value_type);
    // The first occurrence of a key wins. Writers send keys in ascending
    // order, so the end is the usual insertion point and costs one
    // comparison; any other order still lands in the right place.
    map.try_emplace(map.end(), std::move(key), std::move(value));
  }
  return EncodableValue(std::move(map));
}

}  // namespace

StandardCodecSerializer::StandardCodecSerializer() = default;

StandardCodecSerializer::~StandardCodecSerializer() = default;

const StandardCodecSerializer& StandardCodecSerializer::SharedInstance() {
  static const StandardCodecSerializer instance;
  return instance;
}

EncodableValue StandardCodecSerializer::ReadTaggedValue(
    ByteStreamReader* stream) const {
  uint8_t type = stream->GetByte();
  return ReadValueOfType(type, stream);
}

void StandardCodecSerializer::WriteValue(const EncodableValue& value,
                                         ByteStreamWriter* stream) const {
  switch (value.index()) {
    case IndexOf<NullValue>():
      stream->PutByte(kNull);
      return;
    case IndexOf<bool>():
      stream->PutByte(std::get<bool>(value) ? kTrue : kFalse);
      return;
    case IndexOf<int32_t>():
      stream->PutByte(kInt32);
      WriteScalar(std::get<int32_t>(value), stream);
      return;
    case IndexOf<int64_t>():
      stream->PutByte(kInt64);
      WriteScalar(std::get<int64_t>(value), stream);
      return;
    case IndexOf<double>():
      stream->PutByte(kFloat64);
      stream->PadToAlignment(8);
      WriteScalar(std::get<double>(value), stream);
      return;
    case IndexOf<std::string>(): {
      const auto& text = std::get<std::string>(value);
      if (text.size() > kMaxSize) {
        WriteNullForOversize();
        stream->PutByte(kNull);
        return;
      }
      stream->PutByte(kString);
      WriteSizeField(text.size(), stream);
      if (!text.empty()) {
        stream->PutBytes(reinterpret_cast<const uint8_t*>(text.data()),
                         text.size());
      }
      return;
    }
    case IndexOf<std::vector<uint8_t>>(): {
      const auto& bytes = std::get<std::vector<uint8_t>>(value);
      if (bytes.size() > kMaxSize) {
        WriteNullForOversize();
        stream->PutByte(kNull);
        return;
      }
      stream->PutByte(kUInt8List);
      WriteSizeField(bytes.size(), stream);
      if (!bytes.empty()) stream->PutBytes(bytes.data(), bytes.size());
      return;
    }
    case IndexOf<std::vector<int32_t>>():
      WriteTypedList(*this, std::get<std::vector<int32_t>>(value), kInt32List,
                     stream);
      return;
    case IndexOf<std::vector<int64_t>>():
      WriteTypedList(*this, std::get<std::vector<int64_t>>(value), kInt64List,
                     stream);
      return;
    case IndexOf<std::vector<double>>():
      WriteTypedList(*this, std::get<std::vector<double>>(value), kFloat64List,
                     stream);
      return;
    case IndexOf<ValueList>(): {
      const auto& list = std::get<ValueList>(value);
      if (list.size() > kMaxSize) {
        WriteNullForOversize();
        stream->PutByte(kNull);
        return;
      }
      stream->PutByte(kList);
      WriteSizeField(list.size(), stream);
      for (const EncodableValue& element : list) WriteValue(element, stream);
      return;
    }
    case IndexOf<ValueMap>(): {
      const auto& map = std::get<ValueMap>(value);
      if (map.size() > kMaxSize) {
        WriteNullForOversize();
        stream->PutByte(kNull);
        return;
      }
      stream->PutByte(kMap);
      WriteSizeField(map.size(), stream);
      for (const auto& [key, entry_value] : map) {
        WriteValue(key, stream);
        WriteValue(entry_value, stream);
      }
      return;
    }
    case IndexOf<CustomValue>():
      stream->PutByte(kNull);
      std::cerr << "Unhandled custom type in StandardCodecSerializer::"
                   "WriteValue. Custom types require codec extensions."
                << std::endl;
      return;
    case IndexOf<std::vector<float>>():
      WriteTypedList(*this, std::get<std::vector<float>>(value), kFloat32List,
                     stream);
      return;
  }
}

EncodableValue StandardCodecSerializer::ReadValueOfType(
    uint8_t type, ByteStreamReader* stream) const {
  // With neither class derived, no override can be bypassed. Types are
  // compared by address: a false "different" (type information duplicated
  // across shared libraries) only costs the virtual path.
  if (&typeid(*this) == &typeid(StandardCodecSerializer) &&
      &typeid(*stream) == &typeid(ByteBufferStreamReader)) {
    BufferSource source(static_cast<ByteBufferStreamReader*>(stream));
    return ReadValueFrom(type, source);
  }
  StreamSource source(*this, stream);
  return ReadValueFrom(type, source);
}

size_t StandardCodecSerializer::ReadSizeField(ByteStreamReader* stream) const {
  StreamSource source(*this, stream);
  return ReadSizeFrom(source);
}

void StandardCodecSerializer::WriteSizeField(size_t size,
                                             ByteStreamWriter* stream) const {
  if (size < kSize16) {
    stream->PutByte(static_cast<uint8_t>(size));
  } else if (size <= 0xFFFF) {
    stream->PutByte(kSize16);
    WriteScalar(static_cast<uint16_t>(size), stream);
  } else {
    stream->PutByte(kSize32);
    WriteScalar(static_cast<uint32_t>(size), stream);
  }
}

}  // namespace flutter
