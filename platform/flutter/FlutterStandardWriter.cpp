#include "platform/flutter/FlutterStandardWriter.h"

#include <algorithm>
#include <limits>
#include <string>
#include <type_traits>
#include <typeinfo>

#include "platform/flutter/FlutterCodecError.h"
#include "platform/flutter/LittleEndian.h"

namespace {

// Reserves room for `extra` more bytes while keeping geometric growth, so that
// many small exact reservations in one message do not turn quadratic.
void reserveFor(std::vector<std::uint8_t>& data, std::size_t extra) {
  const std::size_t needed = data.size() + extra;
  if (needed > data.capacity()) data.reserve(std::max(needed, data.capacity() * 2));
}

template <class T>
void appendLittleEndian(std::vector<std::uint8_t>& data, const T* values, std::size_t count) {
  const std::size_t start = data.size();
  data.resize(start + count * sizeof(T));
  harkwell::wire::storeLittleEndian(data.data() + start, values, count);
}

}  // namespace

void FlutterStandardWriter::writeValue(const CodecValue& value) {
  std::visit(
      [this](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, CodecNull>) {
          writeByte(0);
        } else if constexpr (std::is_same_v<T, bool>) {
          writeByte(v ? 1 : 2);
        } else if constexpr (std::is_same_v<T, std::int32_t>) {
          writeByte(3);
          appendLittleEndian(data_, &v, 1);
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          writeByte(4);
          appendLittleEndian(data_, &v, 1);
        } else if constexpr (std::is_same_v<T, double>) {
          writeDouble(v);
        } else if constexpr (std::is_same_v<T, std::string>) {
          writeByte(7);
          writeUTF8(v);
        } else if constexpr (std::is_same_v<T, std::vector<std::uint8_t>>) {
          writeByte(8);
          writeSize(v.size());
          writeBytes(v);
        } else if constexpr (std::is_same_v<T, std::vector<std::int32_t>>) {
          writeTypedList(9, 4, v);
        } else if constexpr (std::is_same_v<T, std::vector<std::int64_t>>) {
          writeTypedList(10, 8, v);
        } else if constexpr (std::is_same_v<T, std::vector<double>>) {
          writeTypedList(11, 8, v);
        } else if constexpr (std::is_same_v<T, std::vector<float>>) {
          writeTypedList(14, 4, v);
        } else if constexpr (std::is_same_v<T, CodecList>) {
          writeByte(12);
          writeSize(v.size());
          // Through the virtual writeValue, so that a subclass sees nested records.
          for (const CodecValue& element : v) writeValue(element);
        } else if constexpr (std::is_same_v<T, CodecMap>) {
          writeByte(13);
          writeSize(v.size());
          for (const auto& [key, element] : v) {
            writeValue(key);
            writeValue(element);
          }
        } else if constexpr (std::is_same_v<T, CodecCustomValue>) {
          throw FlutterCodecError(std::string("no writer for custom value of type ") +
                                  v.type().name());
        } else {
          static_assert(sizeof(T) == 0, "every CodecValue alternative needs an encoding");
        }
      },
      value.variant());
}

void FlutterStandardWriter::writeBytes(std::span<const std::uint8_t> bytes) {
  data_.insert(data_.end(), bytes.begin(), bytes.end());
}

void FlutterStandardWriter::writeSize(std::size_t size) {
  if (size < 254) {
    writeByte(static_cast<std::uint8_t>(size));
  } else if (size <= std::numeric_limits<std::uint16_t>::max()) {
    writeByte(254);
    const auto value = static_cast<std::uint16_t>(size);
    appendLittleEndian(data_, &value, 1);
  } else if (size <= std::numeric_limits<std::uint32_t>::max()) {
    writeByte(255);
    const auto value = static_cast<std::uint32_t>(size);
    appendLittleEndian(data_, &value, 1);
  } else {
    throw FlutterCodecError("size " + std::to_string(size) + " exceeds the 32-bit wire limit");
  }
}

void FlutterStandardWriter::writeAlignment(std::size_t alignment) {
  const std::size_t padding = (alignment - data_.size() % alignment) % alignment;
  data_.insert(data_.end(), padding, 0);
}

void FlutterStandardWriter::writeUTF8(std::string_view text) {
  writeSize(text.size());
  reserveFor(data_, text.size());
  data_.insert(data_.end(), text.begin(), text.end());
}

void FlutterStandardWriter::writeListOfDoubles(std::span<const std::optional<double>> values) {
  writeByte(12);
  writeSize(values.size());
  // One resize to the most the elements can take (a double: type byte, up to
  // seven bytes of padding to a multiple of 8 from the message start, eight
  // bytes; a null: one byte), plain stores, then a cut to what was written.
  // The resize zero-fills, so the padding needs no stores of its own.
  const std::size_t start = data_.size();
  data_.resize(start + values.size() * 16);
  std::uint8_t* const bytes = data_.data();
  const std::size_t count = values.size();
  std::size_t at = start;
  std::size_t i = 0;
  while (i < count) {
    if (at % 8 == 0) {
      // From an aligned position every present double takes exactly 16 bytes
      // (type byte, seven zeros, value): no alignment arithmetic in the chain
      // from one sample to the next. This is the loop that audio runs.
      for (; i < count && values[i]; ++i, at += 16) {
        bytes[at] = 6;
        harkwell::wire::storeLittleEndian(bytes + at + 8, &*values[i], 1);
      }
      if (i == count) break;
    }
    const std::optional<double>& value = values[i++];
    if (value) {
      bytes[at] = 6;
      at = (at + 8) & ~std::size_t{7};
      harkwell::wire::storeLittleEndian(bytes + at, &*value, 1);
      at += 8;
    } else {
      bytes[at++] = 0;
    }
  }
  data_.resize(at);
}

void FlutterStandardWriter::writeDouble(double value) {
  writeByte(6);
  writeAlignment(8);
  appendLittleEndian(data_, &value, 1);
}

template <class T>
void FlutterStandardWriter::writeTypedList(std::uint8_t type, std::size_t alignment,
                                           const std::vector<T>& values) {
  writeByte(type);
  writeSize(values.size());
  reserveFor(data_, alignment + values.size() * sizeof(T));
  // Padded even when empty: a reader always aligns before the elements.
  writeAlignment(alignment);
  appendLittleEndian(data_, values.data(), values.size());
}
