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
  // Sized once and written by index: this runs for every sample the server
  // sends, on the mainloop thread, and a push_back per sample cost several
  // times the copy itself.
  for (auto& channel : out) channel.resize(frames);
  size_t frame = 0;  // the next one to fill

  // memcpy rather than casting: after a partial frame the input is no longer
  // float-aligned.
  if (pendingBytes_ > 0) {
    const size_t fill = std::min(frameBytes - pendingBytes_, bytes);
    std::memcpy(pending_.data() + pendingBytes_, in, fill);
    pendingBytes_ += fill;
    in += fill;
    bytes -= fill;
    if (pendingBytes_ < frameBytes) return out;
    for (uint8_t c = 0; c < channels_; ++c) {
      std::memcpy(out[c].data(), pending_.data() + c * sizeof(float), sizeof(float));
    }
    frame = 1;
    pendingBytes_ = 0;
  }
  // Channel by channel, so that each inner loop has one source stride and one
  // destination.
  const size_t whole = bytes / frameBytes;
  for (uint8_t c = 0; c < channels_; ++c) {
    float* destination = out[c].data() + frame;
    const unsigned char* source = in + c * sizeof(float);
    for (size_t f = 0; f < whole; ++f) {
      std::memcpy(destination + f, source + f * frameBytes, sizeof(float));
    }
  }
  in += whole * frameBytes;
  bytes -= whole * frameBytes;
  std::memcpy(pending_.data(), in, bytes);
  pendingBytes_ = bytes;
  return out;
}

}  // namespace harkwell
