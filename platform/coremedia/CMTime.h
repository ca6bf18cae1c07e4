#pragma once

#include <cstdint>

// A rational time: value / timescale seconds. A plain value.
// Thread affinity: none.

using CMTimeValue = std::int64_t;
using CMTimeScale = std::int32_t;
using CMTimeFlags = std::uint32_t;

inline constexpr CMTimeFlags kCMTimeFlags_Valid = 1u << 0;

struct CMTime {
  CMTimeValue value = 0;
  CMTimeScale timescale = 0;
  CMTimeFlags flags = 0;

  friend bool operator==(const CMTime&, const CMTime&) = default;
};

// A valid time of value / timescale seconds. Any thread.
constexpr CMTime CMTimeMake(CMTimeValue value, CMTimeScale timescale) {
  return CMTime{value, timescale, kCMTimeFlags_Valid};
}

inline constexpr CMTime kCMTimeZero = CMTime{0, 1, kCMTimeFlags_Valid};
inline constexpr CMTime kCMTimeInvalid = CMTime{};

constexpr bool CMTIME_IS_VALID(const CMTime& time) {
  return (time.flags & kCMTimeFlags_Valid) != 0 && time.timescale > 0;
}

// Seconds as a double; 0 for an invalid time. Any thread.
constexpr double CMTimeGetSeconds(const CMTime& time) {
  return CMTIME_IS_VALID(time) ? static_cast<double>(time.value) / time.timescale : 0.0;
}
