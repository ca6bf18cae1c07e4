#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace harkwell::e2e {

// Finds the onsets of clicks in a mono sample stream that is otherwise
// silent: an onset is the first sample at or above `threshold` (absolute)
// after at least `quietSamples` samples below `quietLevel`. Requiring the
// quiet run keeps one click (its ringing and its second half) from counting
// twice, and keeps whatever plays before the detector has heard silence from
// counting at all. Positions count every sample pushed since construction.
// Thread affinity: one thread at a time (the UI thread in the latency run).
class ClickDetector {
 public:
  struct Settings {
    double threshold = 0.25;
    double quietLevel = 0.01;
    std::size_t quietSamples = 1600;  // 100 ms at 16 kHz
  };

  explicit ClickDetector(Settings settings) : settings_(settings) {}

  // Takes the next sample; the stream position of that sample when it is an
  // onset, else nullopt.
  std::optional<std::uint64_t> push(double sample);

  // How many samples were pushed so far.
  std::uint64_t position() const { return position_; }

 private:
  const Settings settings_;
  std::uint64_t position_ = 0;
  std::size_t quietRun_ = 0;
};

// An onset as a listener saw it: where in its stream, and when the block that
// carried it arrived.
struct TimedOnset {
  std::chrono::steady_clock::time_point arrivedAt;
  std::uint64_t position;
};

}  // namespace harkwell::e2e
