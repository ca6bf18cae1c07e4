#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

#include "backends/pulse/PulseDeinterleaver.h"
#include "backends/pulse/PulseStreamRequest.h"

namespace harkwell {
namespace {

// At stake: the stream is asked for in a way that yields 20 ms chunks of
// float32 in at most two channels, pinned to its device; a fragsize from the
// wrong spec or a missing DONT_MOVE gives bursts or silent device switches.
struct NativeSpec {
  uint32_t rate;
  uint8_t channels;
  uint32_t expectRate;
  uint8_t expectChannels;
};

class PulseStreamRequestTest : public ::testing::TestWithParam<NativeSpec> {};

TEST_P(PulseStreamRequestTest, AsksForFloatAtNativeRateWithTwentyMillisecondFragments) {
  const NativeSpec native = GetParam();
  const PulseStreamRequest request = streamRequestFor(native.rate, native.channels);
  EXPECT_EQ(request.sampleSpec.format, PA_SAMPLE_FLOAT32NE);
  EXPECT_EQ(request.sampleSpec.rate, native.expectRate);
  EXPECT_EQ(request.sampleSpec.channels, native.expectChannels);
  EXPECT_TRUE(pa_sample_spec_valid(&request.sampleSpec));
  EXPECT_TRUE(pa_channel_map_compatible(&request.channelMap, &request.sampleSpec));
  EXPECT_EQ(request.bufferAttr.fragsize, native.expectRate / 50 * native.expectChannels * 4);
  EXPECT_EQ(request.bufferAttr.maxlength, static_cast<uint32_t>(-1));
  EXPECT_TRUE(request.flags & PA_STREAM_DONT_MOVE);
  EXPECT_TRUE(request.flags & PA_STREAM_ADJUST_LATENCY);
  EXPECT_FALSE(request.flags &
               (PA_STREAM_FIX_RATE | PA_STREAM_FIX_CHANNELS | PA_STREAM_FIX_FORMAT));
}

INSTANTIATE_TEST_SUITE_P(
    NativeSpecs, PulseStreamRequestTest,
    ::testing::Values(NativeSpec{48000, 2, 48000, 2}, NativeSpec{44100, 1, 44100, 1},
                      NativeSpec{16000, 1, 16000, 1}, NativeSpec{96000, 6, 96000, 2},
                      NativeSpec{48000, 18, 48000, 2}, NativeSpec{0, 0, 48000, 2}));

// At stake: per-channel buffers hold exactly the samples that arrived, in
// order, whatever the chunk boundaries; nothing is lost or shifted between
// channels when a chunk ends mid-frame.
class PulseDeinterleaverTest : public ::testing::TestWithParam<size_t> {};

TEST_P(PulseDeinterleaverTest, SplitsChannelsExactlyWhateverTheChunkSize) {
  constexpr size_t frames = 101;
  std::vector<float> interleaved(frames * 2);
  for (size_t i = 0; i < frames; ++i) {
    interleaved[2 * i] = static_cast<float>(i);
    interleaved[2 * i + 1] = -static_cast<float>(i) - 0.5f;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(interleaved.data());
  const size_t total = interleaved.size() * sizeof(float);
  const size_t chunk = GetParam();

  PulseDeinterleaver deinterleaver(2);
  std::vector<float> left, right;
  for (size_t offset = 0; offset < total; offset += chunk) {
    const auto out = deinterleaver.push(bytes + offset, std::min(chunk, total - offset));
    ASSERT_EQ(out.size(), 2u);
    ASSERT_EQ(out[0].size(), out[1].size());
    left.insert(left.end(), out[0].begin(), out[0].end());
    right.insert(right.end(), out[1].begin(), out[1].end());
  }
  ASSERT_EQ(left.size(), frames);
  for (size_t i = 0; i < frames; ++i) {
    EXPECT_EQ(left[i], static_cast<float>(i));
    EXPECT_EQ(right[i], -static_cast<float>(i) - 0.5f);
  }
}

INSTANTIATE_TEST_SUITE_P(ChunkSizes, PulseDeinterleaverTest,
                         ::testing::Values(1, 3, 4, 7, 8, 13, 800, 808));

TEST(PulseDeinterleaverEdgeTest, AnEmptyOrNullChunkYieldsNoFramesAndKeepsState) {
  PulseDeinterleaver deinterleaver(1);
  const float sample = 0.25f;
  const auto* bytes = reinterpret_cast<const unsigned char*>(&sample);
  EXPECT_TRUE(deinterleaver.push(bytes, 2)[0].empty());
  EXPECT_TRUE(deinterleaver.push(nullptr, 0)[0].empty());
  const auto out = deinterleaver.push(bytes + 2, 2);
  ASSERT_EQ(out[0].size(), 1u);
  EXPECT_EQ(out[0][0], 0.25f);
}

}  // namespace
}  // namespace harkwell
