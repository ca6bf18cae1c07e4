#include "bench/e2e/ClickDetector.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace harkwell::e2e {
namespace {

// Small numbers so that streams stay readable: arms after 10 quiet samples.
constexpr ClickDetector::Settings small{0.25, 0.01, 10};

std::vector<std::uint64_t> onsetsOf(const std::vector<double>& samples,
                                    ClickDetector::Settings settings = small) {
  ClickDetector detector(settings);
  std::vector<std::uint64_t> onsets;
  for (double sample : samples) {
    if (auto position = detector.push(sample)) onsets.push_back(*position);
  }
  return onsets;
}

void append(std::vector<double>& stream, std::size_t count, double value) {
  stream.insert(stream.end(), count, value);
}

TEST(ClickDetector, ReportsTheFirstLoudSampleOfEachClickAfterSilence) {
  std::vector<double> stream;
  append(stream, 20, 0.0);
  append(stream, 5, 0.5);  // click at 20
  append(stream, 30, 0.0);
  append(stream, 2, -0.4);  // negative-going click at 55
  append(stream, 12, 0.0);
  stream.push_back(0.3);  // just above the threshold, at 69
  EXPECT_EQ(onsetsOf(stream), (std::vector<std::uint64_t>{20, 55, 69}));
}

TEST(ClickDetector, OneClickCountsOnceWhateverItsShape) {
  std::vector<double> stream;
  append(stream, 20, 0.0);
  // Loud, a dip through zero for fewer samples than the quiet run, then a
  // ringing tail that stays above the quiet level.
  append(stream, 4, 0.5);
  append(stream, 9, 0.0);
  append(stream, 4, -0.5);
  append(stream, 30, 0.05);
  append(stream, 3, 0.5);
  EXPECT_EQ(onsetsOf(stream), (std::vector<std::uint64_t>{20}));
}

TEST(ClickDetector, StaysDeafUntilItHasHeardSilence) {
  // Playing from the first sample, and then a quiet run one sample short.
  std::vector<double> stream;
  append(stream, 3, 0.5);
  append(stream, 9, 0.0);
  append(stream, 3, 0.5);
  EXPECT_TRUE(onsetsOf(stream).empty());
  // Sound below the threshold is not silence either.
  std::vector<double> murmur;
  append(murmur, 50, 0.1);
  append(murmur, 3, 0.5);
  EXPECT_TRUE(onsetsOf(murmur).empty());
}

TEST(ClickDetector, PositionsCountEverySamplePushed) {
  ClickDetector detector(small);
  for (int i = 0; i < 1000; ++i) EXPECT_FALSE(detector.push(0.0));
  EXPECT_EQ(detector.push(0.9), std::optional<std::uint64_t>(1000));
  EXPECT_EQ(detector.position(), 1001u);
}

}  // namespace
}  // namespace harkwell::e2e
