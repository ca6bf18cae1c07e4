#include "platform/flutter/FlutterStandardWriter.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <string>
#include <type_traits>
#include <typeinfo>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/flutter/FlutterCodecError.h"
#include "platform/flutter/LittleEndian.h"

namespace {

// Reserves room for `extra` more bytes while keeping geometric growth, so that
// many small exact reservations in one message do not turn quadratic.
void reserveFor(std::vector<std::uint8_t>& data, std::size_t extra) {
  const std::size_t needed = data.size() + extra;
  if (needed > data.capacity()) data.reserve(std::max(needed, data.capacity() * 2));
}

// One double from an 8-aligned position: the type byte with its seven zero
// bytes of padding as one little-endian word, then the value. With SSE2 both
// halves go out in one 16-byte store; the loop that calls this is bound by
// stores.
inline void writeDoubleRecord(std::uint8_t* out, const double& value) {
#if defined(__SSE2__)
  if constexpr (std::endian::native == std::endian::little) {
    const __m128d typeHalf = _mm_castsi128_pd(_mm_cvtsi32_si128(6));
    _mm_storeu_pd(reinterpret_cast<double*>(out), _mm_loadh_pd(typeHalf, &value));
    return;
  }
#endif
  constexpr std::uint64_t typeWord = 6;
  harkwell::wire::storeLittleEndian(out, &typeWord, 1);
  harkwell::wire::storeLittleEndian(out + 8, &value, 1);
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
  // The most the elements can take: a double is a type byte, up to seven bytes
  // of padding to a multiple of 8 from the message start, and eight bytes.
  reserveFor(data_, values.size() * 16);
  const std::size_t count = values.size();
  std::size_t i = 0;
  while (i < count) {
    if (data_.size() % 8 == 0 && values[i]) {
      // From an aligned position every present double is one 16-byte record:
      // the type byte with its seven zeros as one 8-byte word, then the value.
      // This is the loop that audio runs. The buffer grows a block of records
      // at a time and is cut back to what was written: growing clears, and
      // glibc clears a block this size with a few wide stores, where a whole
      // message's worth goes to `rep stosb`, which instruction counters such
      // as callgrind charge per byte.
      constexpr std::size_t recordsPerBlock = 120;
      const std::size_t stop = std::min(count, i + recordsPerBlock);
      const std::size_t start = data_.size();
      data_.resize(start + (stop - i) * 16);
      std::uint8_t* const first = data_.data() + start;
      std::uint8_t* out = first;
      // Four at a time while all four are present: one branch for the four checks.
      const auto present = [&](std::size_t k) { return unsigned{values[k].has_value()}; };
      for (; i + 4 <= stop && (present(i) & present(i + 1) & present(i + 2) & present(i + 3)) != 0;
           i += 4, out += 64) {
        writeDoubleRecord(out, *values[i]);
        writeDoubleRecord(out + 16, *values[i + 1]);
        writeDoubleRecord(out + 32, *values[i + 2]);
        writeDoubleRecord(out + 48, *values[i + 3]);
      }
      for (; i < stop && values[i]; ++i, out += 16) writeDoubleRecord(out, *values[i]);
      data_.resize(start + static_cast<std::size_t>(out - first));
      continue;
    }
    const std::optional<double>& value = values[i++];
    if (value) {
      writeDouble(*value);
    } else {
      writeByte(0);
    }
  }
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
