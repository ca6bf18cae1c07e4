#include "backends/pulse/PulseStreamRequest.h"

#include <algorithm>

namespace harkwell {

namespace {

constexpr uint32_t fallbackRate = 48000;

}  // namespace

PulseStreamRequest streamRequestFor(uint32_t nativeRate, uint8_t nativeChannels,
                                    std::chrono::microseconds fragment) {
  PulseStreamRequest request;
  request.sampleSpec.format = PA_SAMPLE_FLOAT32NE;
  request.sampleSpec.rate =
      (nativeRate == 0 || nativeRate > PA_RATE_MAX) ? fallbackRate : nativeRate;
  request.sampleSpec.channels = nativeChannels == 0 ? 2 : std::min<uint8_t>(nativeChannels, 2);
  pa_channel_map_init_auto(&request.channelMap, request.sampleSpec.channels,
                           PA_CHANNEL_MAP_DEFAULT);

  // fragsize must come from the sample format we actually record in: a byte count taken
  // from another format would turn 20 ms into something else entirely. Left at -1
  // the server picks 2 s fragments, and capture arrives in bursts.
  const size_t bytes =
      pa_usec_to_bytes(static_cast<pa_usec_t>(fragment.count()), &request.sampleSpec);
  request.bufferAttr.fragsize =
      static_cast<uint32_t>(std::max(bytes, pa_frame_size(&request.sampleSpec)));
  request.bufferAttr.maxlength = static_cast<uint32_t>(-1);
  request.bufferAttr.tlength = static_cast<uint32_t>(-1);
  request.bufferAttr.prebuf = static_cast<uint32_t>(-1);
  request.bufferAttr.minreq = static_cast<uint32_t>(-1);

  // DONT_MOVE: when the device goes away the stream fails instead of silently
  // recording whatever the default device is.
  request.flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
  return request;
}

}  // namespace harkwell
