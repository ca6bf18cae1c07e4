#include "backends/pulse/PulseDeinterleaver.h"

#include <algorithm>
#include <cstring>

namespace harkwell {

PulseDeinterleaver::PulseDeinterleaver(uint8_t channels)
    : channels_(std::max<uint8_t>(channels, 1)), pending_(channels_ * sizeof(float)) {}

std::vector<std::vector<float>> PulseDeinterleaver::push(const void* data, size_t bytes) {
  const size_t frameBytes = pending_.size();
  const auto* in = static_cast<const unsigned char*>(data);
  std::vector<std::vector<float>> out(channels_);
  if (data == nullptr || bytes == 0) return out;

  const size_t frames = (pendingBytes_ + bytes) / frameBytes;
  for (auto& channel : out) channel.reserve(frames);

  // memcpy rather than casting: after a partial frame the input is no longer
  // float-aligned.
  auto takeFrame = [&](const unsigned char* frame) {
    for (uint8_t c = 0; c < channels_; ++c) {
      float sample;
      std::memcpy(&sample, frame + c * sizeof(float), sizeof(float));
      out[c].push_back(sample);
    }
  };

  if (pendingBytes_ > 0) {
    const size_t fill = std::min(frameBytes - pendingBytes_, bytes);
    std::memcpy(pending_.data() + pendingBytes_, in, fill);
    pendingBytes_ += fill;
    in += fill;
    bytes -= fill;
    if (pendingBytes_ < frameBytes) return out;
    takeFrame(pending_.data());
    pendingBytes_ = 0;
  }
  while (bytes >= frameBytes) {
    takeFrame(in);
    in += frameBytes;
    bytes -= frameBytes;
  }
  std::memcpy(pending_.data(), in, bytes);
  pendingBytes_ = bytes;
  return out;
}

}  // namespace harkwell
