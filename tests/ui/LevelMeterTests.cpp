#include "ui/LevelMeter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace harkwell {
namespace {

// At stake: the meter's readings are true dBFS figures: a full-scale sine
// peaks at 0 dBFS with an RMS 3 dB lower, and silence reads -inf, not a
// number below the float range.
TEST(LevelMeterTest, AFullScaleSineReadsZeroAndMinusThreeAndSilenceMinusInfinity) {
  std::vector<float> sine(16000);
  for (std::size_t i = 0; i < sine.size(); ++i) {
    sine[i] = static_cast<float>(std::sin(2 * std::numbers::pi * 1000 * i / 16000.0 + 0.1));
  }
  LevelMeter meter;
  meter.add(sine);
  EXPECT_EQ(LevelMeter::formatDbfs(meter.peak()), "-0.0");
  EXPECT_EQ(LevelMeter::formatDbfs(meter.rms()), "-3.0");
  meter.reset();
  meter.add(std::vector<float>(100, 0.0f));
  EXPECT_EQ(LevelMeter::formatDbfs(meter.peak()), "-inf");
  EXPECT_EQ(LevelMeter::formatDbfs(meter.rms()), "-inf");
}

}  // namespace
}  // namespace harkwell
