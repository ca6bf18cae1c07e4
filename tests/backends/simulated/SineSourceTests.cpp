#include "backends/simulated/SimulatedSignal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "tests/support/CaptureTestHelpers.h"

namespace harkwell {
namespace {

using testing::decodeChannels;

struct Layout {
  SimulatedSampleFormat format;
  int channels;
  bool interleaved;
  double tolerance;  // of full scale, from quantisation
};

// At stake: whatever the sample type and layout, consecutive buffers carry one
// unbroken sine of the asked amplitude and frequency on every channel, in the
// layout their stream description claims.
class SineSourceTest : public ::testing::TestWithParam<Layout> {};

TEST_P(SineSourceTest, ConsecutiveBuffersCarryOneUnbrokenSine) {
  const auto layout = GetParam();
  SimulatedSignal signal;
  signal.format = layout.format;
  signal.channels = layout.channels;
  signal.interleaved = layout.interleaved;
  signal.sampleRate = 44100;
  signal.framesPerBuffer = 333;  // not a whole number of periods
  signal.frequency = 660;
  SineSource source(signal);

  std::vector<std::vector<double>> stream(layout.channels);
  for (int i = 0; i < 4; ++i) {
    auto buffer = source.next();
    ASSERT_EQ(CMSampleBufferGetNumSamples(buffer), 333);
    auto channels = decodeChannels(buffer);
    ASSERT_EQ(channels.size(), static_cast<std::size_t>(layout.channels));
    for (int c = 0; c < layout.channels; ++c) {
      ASSERT_EQ(channels[c].size(), 333u);
      stream[c].insert(stream[c].end(), channels[c].begin(), channels[c].end());
    }
  }
  for (const auto& channel : stream) {
    for (std::size_t n = 0; n < channel.size(); ++n) {
      const double expected = 0.25 * std::sin(2 * std::numbers::pi * 660 * n / 44100.0);
      ASSERT_NEAR(channel[n], expected, layout.tolerance) << "frame " << n;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, SineSourceTest,
                         ::testing::Values(Layout{SimulatedSampleFormat::float32, 1, false, 1e-5},
                                           Layout{SimulatedSampleFormat::float32, 2, false, 1e-5},
                                           Layout{SimulatedSampleFormat::float32, 2, true, 1e-5},
                                           Layout{SimulatedSampleFormat::int16, 2, true, 1e-4},
                                           Layout{SimulatedSampleFormat::int16, 1, false, 1e-4},
                                           Layout{SimulatedSampleFormat::int32, 2, false, 1e-5}));

}  // namespace
}  // namespace harkwell
