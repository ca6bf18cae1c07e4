#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace harkwell {

// Peak and RMS of the samples added since construction or the last reset, for
// samples in full-scale units (1.0 = 0 dBFS).
// Thread affinity: one thread at a time (the console UI's thread).
class LevelMeter {
 public:
  // One thread at a time.
  void add(std::span<const float> samples);
  void reset() { *this = LevelMeter(); }

  std::uint64_t sampleCount() const { return count_; }
  // Largest magnitude; 0 without samples.
  double peak() const { return peak_; }
  // Root mean square; 0 without samples.
  double rms() const;

  // A level in dBFS with one decimal, "-inf" for silence: "-12.0". Any thread.
  static std::string formatDbfs(double linear);

 private:
  std::uint64_t count_ = 0;
  double peak_ = 0;
  double sumOfSquares_ = 0;
};

}  // namespace harkwell
