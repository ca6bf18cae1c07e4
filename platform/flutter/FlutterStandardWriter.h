#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/flutter/CodecValue.h"

// Appends one message of Flutter's standard codec to a caller-owned buffer:
// little-endian, minimal size forms, alignment counted from the first byte of
// the buffer (so the buffer must hold only this message), empty typed lists
// padded. Subclasses add custom types by overriding writeValue; list and map
// elements go through writeValue, so the override sees values at any depth.
// The base writer throws FlutterCodecError for a CodecCustomValue (no subclass
// claimed it) and for a container of more than 2^32-1 elements or bytes.
// Thread affinity: one writer per message, used on one thread at a time. The
// buffer must outlive the writer.
class FlutterStandardWriter {
 public:
  explicit FlutterStandardWriter(std::vector<std::uint8_t>& data) : data_(data) {}
  virtual ~FlutterStandardWriter() = default;
  FlutterStandardWriter(const FlutterStandardWriter&) = delete;
  FlutterStandardWriter& operator=(const FlutterStandardWriter&) = delete;

  // Writes one complete value, type byte included. Any thread.
  virtual void writeValue(const CodecValue& value);

  // Building blocks for subclasses. Any thread.
  void writeByte(std::uint8_t byte) { data_.push_back(byte); }
  void writeBytes(std::span<const std::uint8_t> bytes);
  // A size in its 1, 3 or 5 byte form; throws FlutterCodecError above 2^32-1.
  void writeSize(std::size_t size);
  // Zero padding up to the next multiple of `alignment` of the buffer's length.
  void writeAlignment(std::size_t alignment);
  // A size followed by the UTF-8 bytes (no type byte).
  void writeUTF8(std::string_view text);
  // A generic list (type 12) of float64 values, nullopt elements as null: the
  // same bytes as writeValue of a CodecList holding those doubles and nulls,
  // without building one. Any thread.
  void writeListOfDoubles(std::span<const std::optional<double>> values);

 protected:
  std::vector<std::uint8_t>& data() { return data_; }

 private:
  void writeDouble(double value);
  template <class T>
  void writeTypedList(std::uint8_t type, std::size_t alignment, const std::vector<T>& values);

  std::vector<std::uint8_t>& data_;
};
