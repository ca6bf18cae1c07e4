#pragma once

#include <cstdint>
#include <optional>

#include "bridge/RawValue.h"

namespace harkwell {

// What a NativeAudioEvent reports. The host sends only the device cases; the
// service cases belong to the contract with the UI.
// Thread affinity: a plain value, any thread.
enum class NativeAudioEventType : std::int64_t {
  serviceStart = 0,
  serviceStop = 1,
  serviceError = 2,
  deviceStart = 3,
  deviceStop = 4,
  deviceAudioData = 5,
};

template <>
inline std::optional<NativeAudioEventType> fromRawValue<NativeAudioEventType>(std::int64_t raw) {
  if (raw < 0 || raw > 5) return std::nullopt;
  return static_cast<NativeAudioEventType>(raw);
}

}  // namespace harkwell
