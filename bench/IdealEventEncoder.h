#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "bridge/AudioDeviceType.h"
#include "bridge/NativeAudioEventType.h"
#include "bridge/RawValue.h"

// The yardstick for the event encoder: a hand-written loop that writes the
// bytes of the message [NativeAudioEvent] for a deviceAudioData event (no
// error, every sample present) into one buffer sized up front. It knows
// nothing of codec values, writers or records; the tests check that its bytes
// equal those of BridgeFlutterApiCodec::shared(). Only the cost of the real
// encoder is compared against it, so it must stay this plain.
// Thread affinity: pure functions, any thread.
namespace harkwell::bench {

namespace ideal {

// Bytes of a standard-codec size: 1, 3 or 5.
inline std::size_t sizeBytes(std::size_t size) {
  return size < 254 ? 1 : (size <= 0xffff ? 3 : 5);
}

inline std::uint8_t* putSize(std::uint8_t* out, std::size_t size) {
  if (size < 254) {
    *out++ = static_cast<std::uint8_t>(size);
  } else if (size <= 0xffff) {
    *out++ = 254;
    const auto value = static_cast<std::uint16_t>(size);
    std::memcpy(out, &value, 2);
    out += 2;
  } else {
    *out++ = 255;
    const auto value = static_cast<std::uint32_t>(size);
    std::memcpy(out, &value, 4);
    out += 4;
  }
  return out;
}

inline std::uint8_t* putInt64(std::uint8_t* out, std::int64_t value) {
  *out++ = 4;
  std::memcpy(out, &value, 8);
  return out + 8;
}

inline double widen(float sample) {
  return sample;
}
inline double widen(const std::optional<double>& sample) {
  return *sample;
}

}  // namespace ideal

// The message bytes for `samples` (float or present optional<double>; little-endian
// host). Any thread.
template <class Sample>
std::vector<std::uint8_t> encodeAudioEventIdeal(std::string_view id, AudioDeviceType type,
                                                std::span<const Sample> samples) {
  const std::size_t n = samples.size();
  // [ list(1) 128 list(5) id type eventType list(n) ... null ]
  const std::size_t header =
      2 + 1 + 2 + 1 + ideal::sizeBytes(id.size()) + id.size() + 9 + 9 + 1 + ideal::sizeBytes(n);
  // Every double: type byte, zero padding to a multiple of 8, eight bytes.
  std::size_t end = header;
  if (n > 0) end = ((header + 1 + 7) & ~std::size_t{7}) + 8 + (n - 1) * 16;
  std::vector<std::uint8_t> bytes(end + 1);

  std::uint8_t* out = bytes.data();
  *out++ = 12;
  *out++ = 1;
  *out++ = 128;
  *out++ = 12;
  *out++ = 5;
  *out++ = 7;
  out = ideal::putSize(out, id.size());
  std::memcpy(out, id.data(), id.size());
  out += id.size();
  out = ideal::putInt64(out, rawValue(type));
  out = ideal::putInt64(out, rawValue(NativeAudioEventType::deviceAudioData));
  *out++ = 12;
  out = ideal::putSize(out, n);

  std::size_t at = static_cast<std::size_t>(out - bytes.data());
  for (const Sample& sample : samples) {
    bytes[at] = 6;
    at = (at + 1 + 7) & ~std::size_t{7};
    const double value = ideal::widen(sample);
    std::memcpy(bytes.data() + at, &value, 8);
    at += 8;
  }
  // The error element: null, already zero.
  return bytes;
}

}  // namespace harkwell::bench
