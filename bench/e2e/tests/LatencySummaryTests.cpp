#include "bench/e2e/LatencySummary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

namespace harkwell::e2e {
namespace {

std::vector<double> shuffledOneTo(int n) {
  std::vector<double> values(static_cast<std::size_t>(n));
  std::iota(values.begin(), values.end(), 1.0);
  std::shuffle(values.begin(), values.end(), std::mt19937(7));
  return values;
}

TEST(NearestRankPercentile, PicksTheRankedValueOfUnsortedInput) {
  const auto hundred = shuffledOneTo(100);
  EXPECT_EQ(nearestRankPercentile(hundred, 50), 50.0);
  // p99 of 100 values is the 99th, not the maximum: the rank stays whole.
  EXPECT_EQ(nearestRankPercentile(hundred, 99), 99.0);
  EXPECT_EQ(nearestRankPercentile(hundred, 100), 100.0);
  EXPECT_EQ(nearestRankPercentile(hundred, 0.001), 1.0);

  const auto sixty = shuffledOneTo(60);
  EXPECT_EQ(nearestRankPercentile(sixty, 50), 30.0);
  EXPECT_EQ(nearestRankPercentile(sixty, 99), 60.0);
  EXPECT_EQ(nearestRankPercentile({4.5}, 99), 4.5);
}

TEST(NearestRankPercentile, NothingToRankGivesNoFigure) {
  EXPECT_FALSE(nearestRankPercentile({}, 50));
  EXPECT_FALSE(nearestRankPercentile({1, 2, 3}, 0));
  EXPECT_FALSE(nearestRankPercentile({1, 2, 3}, 101));
}

}  // namespace
}  // namespace harkwell::e2e
