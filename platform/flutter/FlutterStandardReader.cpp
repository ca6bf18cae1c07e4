#include "platform/flutter/FlutterStandardReader.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "platform/flutter/FlutterCodecError.h"
#include "platform/flutter/LittleEndian.h"

namespace {

// A claimed count is only a hint for reserve: every element consumes at least
// one byte, so growth is bounded by the message, whereas reserving the claim of
// each nested list would let a short message demand gigabytes.
constexpr std::size_t maxReserveHint = 1024;

std::string hexByte(std::uint8_t byte) {
  char text[5];
  std::snprintf(text, sizeof(text), "0x%02x", byte);
  return text;
}

}  // namespace

CodecValue FlutterStandardReader::readValue() {
  const std::size_t typeOffset = position_;
  if (depth_ >= maxNestingDepth) {
    fail("values nested deeper than " + std::to_string(maxNestingDepth), typeOffset);
  }
  const std::uint8_t type = readByte();
  // A subclass may catch our error and carry on, so the depth must be restored
  // on every way out.
  struct DepthScope {
    explicit DepthScope(int& depth) : depth_(depth) { ++depth_; }
    ~DepthScope() { --depth_; }
    int& depth_;
  } scope(depth_);
  return readValueOfType(type);
}

CodecValue FlutterStandardReader::readValueOfType(std::uint8_t type) {
  // The type byte has just been read, so it sits right before the position.
  const std::size_t typeOffset = position_ > 0 ? position_ - 1 : 0;
  switch (type) {
    case 0:
      return CodecNull{};
    case 1:
      return CodecValue(true);
    case 2:
      return CodecValue(false);
    case 3:
      return readScalar<std::int32_t>();
    case 4:
      return readScalar<std::int64_t>();
    case 5:  // legacy large int: its hexadecimal text, as the other hosts do
    case 7:
      return readUTF8();
    case 6:
      readAlignment(8);
      return readScalar<double>();
    case 8: {
      const std::uint32_t size = readSize();
      auto bytes = readBytes(size);
      return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
    }
    case 9:
      return readTypedList<std::int32_t>(4, "int32 list", typeOffset);
    case 10:
      return readTypedList<std::int64_t>(8, "int64 list", typeOffset);
    case 11:
      return readTypedList<double>(8, "float64 list", typeOffset);
    case 14:
      return readTypedList<float>(4, "float32 list", typeOffset);
    case 12: {
      const std::uint32_t count = readSize();
      if (count > remaining()) {
        fail("list claims " + std::to_string(count) + " elements but only " +
                 std::to_string(remaining()) + " bytes are left",
             typeOffset);
      }
      CodecList list;
      list.reserve(std::min<std::size_t>(count, maxReserveHint));
      for (std::uint32_t i = 0; i < count; ++i) list.push_back(readValue());
      return list;
    }
    case 13: {
      const std::uint32_t count = readSize();
      if (count > remaining() / 2) {
        fail("map claims " + std::to_string(count) + " entries but only " +
                 std::to_string(remaining()) + " bytes are left",
             typeOffset);
      }
      CodecMap map;
      map.reserve(std::min<std::size_t>(count, maxReserveHint));
      for (std::uint32_t i = 0; i < count; ++i) {
        CodecValue key = readValue();
        CodecValue value = readValue();
        map.emplace_back(std::move(key), std::move(value));
      }
      return map;
    }
    default:
      fail("unknown type byte " + hexByte(type), typeOffset);
  }
}

std::uint8_t FlutterStandardReader::readByte() {
  requireBytes(1, "value");
  return data_[position_++];
}

std::uint32_t FlutterStandardReader::readSize() {
  const std::uint8_t marker = readByte();
  if (marker < 254) return marker;
  if (marker == 254) return readScalar<std::uint16_t>();
  return readScalar<std::uint32_t>();
}

std::span<const std::uint8_t> FlutterStandardReader::readBytes(std::size_t length) {
  requireBytes(length, "bytes");
  auto bytes = data_.subspan(position_, length);
  position_ += length;
  return bytes;
}

void FlutterStandardReader::readAlignment(std::size_t alignment) {
  const std::size_t padding = (alignment - position_ % alignment) % alignment;
  requireBytes(padding, "padding");
  position_ += padding;
}

std::string FlutterStandardReader::readUTF8() {
  const std::uint32_t size = readSize();
  requireBytes(size, "string");
  std::string text(reinterpret_cast<const char*>(data_.data() + position_), size);
  position_ += size;
  return text;
}

void FlutterStandardReader::fail(std::string_view what, std::size_t offset) const {
  throw FlutterCodecError(std::string(what) + " at offset " + std::to_string(offset));
}

template <class T>
T FlutterStandardReader::readScalar() {
  requireBytes(sizeof(T), "number");
  T value;
  harkwell::wire::loadLittleEndian(&value, data_.data() + position_, 1);
  position_ += sizeof(T);
  return value;
}

template <class T>
std::vector<T> FlutterStandardReader::readTypedList(std::size_t alignment, const char* name,
                                                    std::size_t typeOffset) {
  const std::uint32_t count = readSize();
  readAlignment(alignment);
  // Dividing rather than multiplying keeps a huge claim from wrapping around.
  if (count > remaining() / sizeof(T)) {
    fail(std::string(name) + " claims " + std::to_string(count) + " elements but only " +
             std::to_string(remaining()) + " bytes are left",
         typeOffset);
  }
  std::vector<T> values(count);
  harkwell::wire::loadLittleEndian(values.data(), data_.data() + position_, count);
  position_ += std::size_t{count} * sizeof(T);
  return values;
}

void FlutterStandardReader::requireBytes(std::size_t length, const char* what) const {
  if (length > remaining()) {
    fail(std::string("truncated ") + what + " (needs " + std::to_string(length) + " bytes, " +
             std::to_string(remaining()) + " left)",
         position_);
  }
}
