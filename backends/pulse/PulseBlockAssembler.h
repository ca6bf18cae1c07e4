#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace harkwell {

// Turns interleaved float32 frames, in chunks of whatever size the server hands
// over, into blocks of one buffer per channel. With `exactBlocks` every block
// holds exactly `blockFrames` frames (a display delivers fixed-size buffers);
// otherwise a block is everything collected once at least `blockFrames` have
// arrived (a chunk as large as that passes in one piece). A chunk that ends
// mid-frame keeps the partial frame for the next one, so no sample is lost,
// duplicated or shifted between channels, and blocks follow each other without
// gaps: each starts at the frame after the previous block's last.
// Thread affinity: one thread at a time (the PulseAudio mainloop thread).
class PulseBlockAssembler {
 public:
  using Channels = std::vector<std::vector<float>>;

  // channels and blockFrames: 1 or more.
  PulseBlockAssembler(uint8_t channels, size_t blockFrames, bool exactBlocks);

  // Appends `bytes` bytes of interleaved native-endian float32 and calls
  // `emit(const Channels&, uint64_t firstFrame)` for every block completed,
  // where firstFrame counts the frames of the blocks before it. The channel
  // buffers are reused: emit copies what it keeps. Mainloop thread.
  template <typename Emit>
  void push(const void* data, size_t bytes, Emit&& emit) {
    const auto* in = static_cast<const unsigned char*>(data);
    if (in == nullptr) return;
    while (fill(in, bytes)) {
      emit(static_cast<const Channels&>(block_), framesEmitted_);
      framesEmitted_ += filled_;
      filled_ = 0;
    }
  }

  // Forgets the partial frame and the partial block, and counts frames from 0
  // again. Mainloop thread.
  void reset();

  uint8_t channels() const { return channels_; }
  // Frames waiting in the partial block.
  size_t pendingFrames() const { return filled_; }

 private:
  // Consumes input until a block is complete (true) or the input is used up
  // (false); advances `in` and `bytes` past what it took.
  bool fill(const unsigned char*& in, size_t& bytes);
  // Appends `frames` whole interleaved frames from `in` to the block.
  void append(const unsigned char* in, size_t frames);

  const uint8_t channels_;
  const size_t frameBytes_;
  const size_t blockFrames_;
  const bool exactBlocks_;
  Channels block_;
  size_t filled_ = 0;
  uint64_t framesEmitted_ = 0;
  std::vector<unsigned char> partial_;  // one frame's worth
  size_t partialBytes_ = 0;
};

}  // namespace harkwell
