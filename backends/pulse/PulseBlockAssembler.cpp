#include "backends/pulse/PulseBlockAssembler.h"

#include <algorithm>
#include <cstring>

namespace harkwell {

PulseBlockAssembler::PulseBlockAssembler(uint8_t channels, size_t blockFrames, bool exactBlocks)
    : channels_(std::max<uint8_t>(channels, 1)),
      frameBytes_(channels_ * sizeof(float)),
      blockFrames_(std::max<size_t>(blockFrames, 1)),
      exactBlocks_(exactBlocks),
      block_(channels_),
      partial_(frameBytes_) {
  // Sized once: the buffers are refilled for every block on the mainloop thread.
  for (auto& channel : block_) channel.reserve(blockFrames_);
}

void PulseBlockAssembler::reset() {
  filled_ = 0;
  framesEmitted_ = 0;
  partialBytes_ = 0;
}

bool PulseBlockAssembler::fill(const unsigned char*& in, size_t& bytes) {
  if (partialBytes_ > 0) {
    const size_t take = std::min(frameBytes_ - partialBytes_, bytes);
    std::memcpy(partial_.data() + partialBytes_, in, take);
    partialBytes_ += take;
    in += take;
    bytes -= take;
    if (partialBytes_ < frameBytes_) return false;
    partialBytes_ = 0;
    append(partial_.data(), 1);
    if (filled_ >= blockFrames_) return true;
  }
  size_t frames = bytes / frameBytes_;
  if (exactBlocks_) frames = std::min(frames, blockFrames_ - filled_);
  append(in, frames);
  in += frames * frameBytes_;
  bytes -= frames * frameBytes_;
  if (filled_ >= blockFrames_) return true;
  // Less than a frame is left: keep it for the next chunk.
  std::memcpy(partial_.data(), in, bytes);
  partialBytes_ = bytes;
  in += bytes;
  bytes = 0;
  return false;
}

void PulseBlockAssembler::append(const unsigned char* in, size_t frames) {
  // Channel by channel, so that each inner loop has one source stride and one
  // destination; memcpy because after a partial frame the input is no longer
  // float-aligned.
  for (uint8_t c = 0; c < channels_; ++c) {
    std::vector<float>& channel = block_[c];
    channel.resize(filled_ + frames);
    float* destination = channel.data() + filled_;
    const unsigned char* source = in + c * sizeof(float);
    for (size_t f = 0; f < frames; ++f) {
      std::memcpy(destination + f, source + f * frameBytes_, sizeof(float));
    }
  }
  filled_ += frames;
}

}  // namespace harkwell
