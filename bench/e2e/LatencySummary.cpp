#include "bench/e2e/LatencySummary.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace harkwell::e2e {

std::optional<double> nearestRankPercentile(std::vector<double> values, double percent) {
  if (values.empty() || !(percent > 0 && percent <= 100)) return std::nullopt;
  // The rank is 1-based: ceil(p · n / 100), at least 1; p · n first, so that
  // whole ranks (p99 of 100 values) stay whole in floating point.
  const auto rank = static_cast<std::size_t>(
      std::max(1.0, std::ceil(percent * static_cast<double>(values.size()) / 100.0)));
  const auto index = std::min(rank, values.size()) - 1;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(index),
                   values.end());
  return values[index];
}

}  // namespace harkwell::e2e
