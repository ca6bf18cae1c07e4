#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

// Copies arithmetic values between host order and the wire's little-endian
// order. Every Flutter target is little-endian, where both are a plain memcpy;
// the swap keeps the byte contract on a big-endian host too.
// Thread affinity: pure functions, any thread.
namespace harkwell::wire {

template <class T>
inline T byteSwapped(T value) {
  static_assert(std::is_arithmetic_v<T>);
  if constexpr (sizeof(T) == 1) {
    return value;
  } else {
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    for (std::size_t i = 0; i < sizeof(T) / 2; ++i) {
      unsigned char b = bytes[i];
      bytes[i] = bytes[sizeof(T) - 1 - i];
      bytes[sizeof(T) - 1 - i] = b;
    }
    std::memcpy(&value, bytes, sizeof(T));
    return value;
  }
}

// Writes `count` values from `source` to `destination` (count * sizeof(T) bytes).
template <class T>
inline void storeLittleEndian(std::uint8_t* destination, const T* source, std::size_t count) {
  if constexpr (std::endian::native == std::endian::little) {
    if (count != 0) std::memcpy(destination, source, count * sizeof(T));
  } else {
    for (std::size_t i = 0; i < count; ++i) {
      T swapped = byteSwapped(source[i]);
      std::memcpy(destination + i * sizeof(T), &swapped, sizeof(T));
    }
  }
}

// Reads `count` values from `source` (count * sizeof(T) bytes) into `destination`.
template <class T>
inline void loadLittleEndian(T* destination, const std::uint8_t* source, std::size_t count) {
  if constexpr (std::endian::native == std::endian::little) {
    if (count != 0) std::memcpy(destination, source, count * sizeof(T));
  } else {
    for (std::size_t i = 0; i < count; ++i) {
      T value;
      std::memcpy(&value, source + i * sizeof(T), sizeof(T));
      destination[i] = byteSwapped(value);
    }
  }
}

}  // namespace harkwell::wire
