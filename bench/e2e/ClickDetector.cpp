#include "bench/e2e/ClickDetector.h"

#include <cmath>

namespace harkwell::e2e {

std::optional<std::uint64_t> ClickDetector::push(double sample) {
  const std::uint64_t here = position_++;
  const double level = std::fabs(sample);
  if (level >= settings_.threshold) {
    const bool armed = quietRun_ >= settings_.quietSamples;
    quietRun_ = 0;
    if (armed) return here;
    return std::nullopt;
  }
  // Between the quiet level and the threshold: neither a click nor silence,
  // so it breaks the quiet run without firing.
  quietRun_ = level < settings_.quietLevel ? quietRun_ + 1 : 0;
  return std::nullopt;
}

}  // namespace harkwell::e2e
