#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace harkwell {

// Splits interleaved float32 frames, as PulseAudio delivers them, into one
// buffer per channel. Chunks may have any size: a trailing partial frame is
// kept and completed by the next chunk, so no sample is lost or shifted.
// Thread affinity: one thread at a time (the PulseAudio mainloop thread).
class PulseDeinterleaver {
 public:
  // channels: 1 or more.
  explicit PulseDeinterleaver(uint8_t channels);

  // Appends `bytes` bytes of interleaved native-endian float32 and returns the
  // complete frames as one vector per channel (all empty when no frame is
  // complete yet). Mainloop thread.
  std::vector<std::vector<float>> push(const void* data, size_t bytes);

  // Forgets a kept partial frame. Mainloop thread.
  void reset() { pendingBytes_ = 0; }

  uint8_t channels() const { return channels_; }

 private:
  uint8_t channels_;
  std::vector<unsigned char> pending_;  // one frame's worth
  size_t pendingBytes_ = 0;
};

}  // namespace harkwell
