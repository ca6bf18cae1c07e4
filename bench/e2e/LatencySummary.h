#pragma once

#include <optional>
#include <vector>

namespace harkwell::e2e {

// Nearest-rank percentile of `values` (milliseconds, any order): the smallest
// value with at least `percent` % of the values at or below it. With fewer
// than 100 values p99 is the maximum. Nullopt for no values or a percent
// outside (0, 100]. Any thread.
std::optional<double> nearestRankPercentile(std::vector<double> values, double percent);

}  // namespace harkwell::e2e
