#include "ui/LevelMeter.h"

#include <cmath>
#include <cstdio>

namespace harkwell {

void LevelMeter::add(std::span<const float> samples) {
  for (const float sample : samples) {
    const double value = sample;
    peak_ = std::max(peak_, std::fabs(value));
    sumOfSquares_ += value * value;
  }
  count_ += samples.size();
}

double LevelMeter::rms() const {
  if (count_ == 0) return 0;
  return std::sqrt(sumOfSquares_ / static_cast<double>(count_));
}

std::string LevelMeter::formatDbfs(double linear) {
  // Below about -200 dBFS nothing is audible or even representable in float
  // samples; call it silence rather than print a huge negative number.
  if (!(linear > 1e-10)) return "-inf";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", 20.0 * std::log10(linear));
  return text;
}

}  // namespace harkwell
