#pragma once

#include <cstdint>
#include <optional>

#include "bridge/RawValue.h"

namespace harkwell {

// Kind of audio source: a microphone, or a display's system audio.
// Thread affinity: a plain value, any thread.
enum class AudioDeviceType : std::int64_t {
  input = 0,
  output = 1,
};

template <>
inline std::optional<AudioDeviceType> fromRawValue<AudioDeviceType>(std::int64_t raw) {
  if (raw < 0 || raw > 1) return std::nullopt;
  return static_cast<AudioDeviceType>(raw);
}

}  // namespace harkwell
