#pragma once

#include <pulse/channelmap.h>
#include <pulse/def.h>
#include <pulse/sample.h>

#include <chrono>
#include <cstdint>

namespace harkwell {

// How a capture stream is asked for: float32 at the source's own rate, at most
// two channels (the server's remixer folds anything wider properly), fragments
// of `fragment` computed from this final spec, and pinned to its device.
struct PulseStreamRequest {
  pa_sample_spec sampleSpec{};
  pa_channel_map channelMap{};
  pa_buffer_attr bufferAttr{};
  pa_stream_flags_t flags = PA_STREAM_NOFLAGS;
};

inline constexpr std::chrono::milliseconds pulseFragment{20};

// The request for a source whose native spec is `nativeRate` Hz and
// `nativeChannels` channels. A spec the server reports as invalid (0 Hz, 0
// channels, out of range) falls back to 48 kHz stereo, which the server then
// converts to. Any thread.
PulseStreamRequest streamRequestFor(uint32_t nativeRate, uint8_t nativeChannels,
                                    std::chrono::microseconds fragment = pulseFragment);

}  // namespace harkwell
