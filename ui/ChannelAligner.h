#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

namespace harkwell {

// Lines up several sources' samples as the channels of one stream, by when
// they arrived: a block that ends at frame F (its arrival, on any clock
// counted in frames) is placed so, and whatever a channel lacks before it
// becomes silence. The file starts with the first block of any channel. Arrival jitter up to
// `toleranceFrames` is absorbed; a channel later than that (a suspended or slow source) gets
// silence. Thread affinity: one thread at a time.
class ChannelAligner {
 public:
  // 100 ms at 16000 Hz: far more than a delivery's jitter, far less than a
  // word.
  static constexpr std::int64_t toleranceFrames = 1600;

  explicit ChannelAligner(std::size_t channels);

  void add(std::size_t channel, std::span<const float> samples, std::int64_t endFrame);
  // Every channel that has nothing up to `frame` is filled with silence to it.
  void padTo(std::int64_t frame);
  // Interleaved frames that every channel has, removed from the aligner.
  std::vector<float> takeReady();
  // Everything left, shorter channels padded with silence.
  std::vector<float> takeAll();

 private:
  std::vector<float> take(std::size_t frames);

  std::vector<std::deque<float>> queues_;
  std::vector<std::int64_t> positions_;  // frames placed so far, per channel
  std::optional<std::int64_t> origin_;   // where the first block started
};

}  // namespace harkwell
