#include "audio/capture/AudioConverter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace harkwell {
namespace {

enum class SampleKind { float32, int16, int32 };

AudioStreamBasicDescription lpcm(double rate, UInt32 channels = 1, UInt32 bits = 32,
                                 bool isFloat = true, bool interleaved = false,
                                 bool bigEndian = false) {
  AudioStreamBasicDescription asbd;
  FillOutASBDForLPCM(asbd, rate, channels, bits, bits, isFloat, bigEndian, !interleaved);
  return asbd;
}

// Raw sample of channel c at frame i, and the float the converter should see for it.
std::int64_t rawSample(SampleKind kind, UInt32 c, std::size_t i) {
  const auto base = static_cast<std::int64_t>((i * 7 + c * 13) % 200) - 100;
  return kind == SampleKind::int16   ? base * 300
         : kind == SampleKind::int32 ? base * 20000000
                                     : base;
}

double scaled(SampleKind kind, std::int64_t raw) {
  if (kind == SampleKind::float32) return static_cast<double>(static_cast<float>(raw) / 100.0f);
  return static_cast<double>(raw) / (kind == SampleKind::int16 ? 32767.0 : 2147483648.0);
}

template <typename T>
void put(std::vector<std::uint8_t>& bytes, std::size_t at, T value) {
  std::memcpy(bytes.data() + at * sizeof(T), &value, sizeof(T));
}

// A sample buffer laid out as described, holding rawSample() values.
CMSampleBufferRef makeBuffer(SampleKind kind, double rate, UInt32 channels, bool interleaved,
                             std::size_t frames) {
  const std::size_t width = kind == SampleKind::int16 ? 2 : 4;
  std::vector<std::vector<std::uint8_t>> buffers(interleaved ? 1 : channels);
  for (auto& b : buffers) b.resize(frames * width * (interleaved ? channels : 1));
  for (UInt32 c = 0; c < channels; ++c) {
    for (std::size_t i = 0; i < frames; ++i) {
      auto& bytes = buffers[interleaved ? 0 : c];
      const std::size_t at = interleaved ? i * channels + c : i;
      const std::int64_t raw = rawSample(kind, c, i);
      if (kind == SampleKind::float32) put(bytes, at, static_cast<float>(raw) / 100.0f);
      if (kind == SampleKind::int16) put(bytes, at, static_cast<std::int16_t>(raw));
      if (kind == SampleKind::int32) put(bytes, at, static_cast<std::int32_t>(raw));
    }
  }
  return CMSampleBufferCreateWithAudioBuffers(
      lpcm(rate, channels, width * 8, kind == SampleKind::float32, interleaved), buffers);
}

using FormatCase = std::tuple<double, UInt32, SampleKind, bool>;

// Every delivered layout must come out as the same mono 16 kHz signal: a wrong
// stride, scale or channel count would turn speech into noise.
class AudioConverterFormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(AudioConverterFormatTest, TenMillisecondsBecomeTheAveragedSignalPickedAt16kHz) {
  const auto [rate, channels, kind, interleaved] = GetParam();
  const auto frames = static_cast<std::size_t>(rate / 100);
  const std::vector<float> out =
      AudioConverter().convert(makeBuffer(kind, rate, channels, interleaved, frames));
  ASSERT_EQ(out.size(), 160u);
  for (std::size_t j = 0; j < out.size(); ++j) {
    const auto frame = static_cast<std::size_t>(j * static_cast<std::uint64_t>(rate) / 16000);
    double sum = 0;
    for (UInt32 c = 0; c < channels; ++c) sum += scaled(kind, rawSample(kind, c, frame));
    ASSERT_NEAR(out[j], sum / channels, 1e-6) << "output " << j;
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, AudioConverterFormatTest,
                         ::testing::Combine(::testing::Values(16000.0, 44100.0, 48000.0, 8000.0),
                                            ::testing::Values(1u, 2u, 6u),
                                            ::testing::Values(SampleKind::float32,
                                                              SampleKind::int16, SampleKind::int32),
                                            ::testing::Bool()));

// Mono float32 at `rate` whose frame i holds `first` + i, exact in float.
CMSampleBufferRef ramp(double rate, std::size_t frames, std::uint64_t first = 0) {
  std::vector<float> x(frames);
  for (std::size_t i = 0; i < frames; ++i) x[i] = static_cast<float>(first + i);
  return CMSampleBufferCreateWithFloat32Channels(rate, {x});
}

// At stake (a fixed bug): 381 / 48000 * 16000 is 127 exactly but 127.00001 in
// float32; the block must not end in a zero that no frame was picked for.
TEST(AudioConverterBlockTest, ALengthRoundedUpInFloatGetsNoTrailingZero) {
  const auto out = AudioConverter().convert(ramp(48000, 381, 1));
  ASSERT_EQ(out.size(), 127u);
  EXPECT_EQ(out.back(), 379.0f);
}

// At stake: over a long capture the blocks together must be the exact 16 kHz
// picking of the continuous input: a fractional position lost per buffer
// drifts the audio and changes its length.
class AudioConverterStreamTest : public ::testing::Test {
 protected:
  // Feeds consecutive buffers of one ramp and returns all output.
  std::vector<float> feed(double rate, const std::vector<std::size_t>& sizes) {
    std::vector<float> all;
    for (const std::size_t size : sizes) {
      const auto out = converter_.convert(ramp(rate, size, frame_));
      frame_ += size;
      all.insert(all.end(), out.begin(), out.end());
    }
    return all;
  }

  AudioConverter converter_;
  std::uint64_t frame_ = 0;
};

TEST_F(AudioConverterStreamTest, UnevenBuffersAt44100HzPickTheExactFrames) {
  std::vector<std::size_t> sizes;
  for (std::size_t k = 0; k < 500; ++k) sizes.push_back(1 + (k * 7919) % 2048);
  const auto all = feed(44100, sizes);
  ASSERT_NEAR(static_cast<double>(all.size()), std::ceil(frame_ * 16000.0 / 44100), 1.0);
  // The first block is picked by float stepping, which may sit one frame early.
  for (std::size_t j = 0; j < all.size(); ++j) {
    const auto exact = static_cast<float>(j * 44100 / 16000);
    ASSERT_NEAR(all[j], exact, j < 16 ? 1.0f : 0.0f) << j;
  }
}

TEST_F(AudioConverterStreamTest, ARejectedBufferDoesNotBreakTheStream) {
  EXPECT_EQ(feed(48000, {1000}).size(), 334u);
  const auto bad = CMSampleBufferCreateWithAudioBuffers(
      lpcm(48000), {std::vector<std::uint8_t>(4000)}, 999, kCMTimeZero);
  EXPECT_TRUE(converter_.convert(bad).empty());
  const auto after = feed(48000, {1000});
  // Frame 1000 is the second buffer's frame 0; output 334 picks frame 1002.
  ASSERT_FALSE(after.empty());
  EXPECT_EQ(after.front(), 1002.0f);
}

// At stake: buffers at a new rate start a new stream, picked from their own
// first frame, not from the old stream's position; 16 kHz passes through and
// also ends the stream before it.
TEST_F(AudioConverterStreamTest, ARateChangeStartsANewStream) {
  feed(48000, {1000});
  const auto fresh = AudioConverter().convert(ramp(44100, 1000));
  EXPECT_EQ(converter_.convert(ramp(44100, 1000)), fresh);
  EXPECT_EQ(converter_.convert(ramp(16000, 3)), (std::vector<float>{0, 1, 2}));
  EXPECT_EQ(converter_.convert(ramp(44100, 1000)), fresh);
}

using MalformedCase = std::pair<std::string, CMSampleBufferRef>;

// Null, a video frame and frame counts that disagree with the bytes go through
// the whole host in the fault-injection tests.
std::vector<MalformedCase> malformedCases() {
  auto make = [](const AudioStreamBasicDescription& asbd, std::size_t buffers, std::size_t bytes) {
    return CMSampleBufferCreateWithAudioBuffers(
        asbd, std::vector<std::vector<std::uint8_t>>(buffers, std::vector<std::uint8_t>(bytes)));
  };
  auto notPcm = lpcm(48000), padded = lpcm(48000);
  notPcm.mFormatID = 0x61616320;
  padded.mBytesPerFrame = padded.mBytesPerPacket = 2;
  return {
      {"Invalidated", CMSampleBufferCreateInvalidated(make(lpcm(48000), 1, 400))},
      {"NoFormatDescription",
       CMSampleBufferCreateWithoutFormatDescription({std::vector<std::uint8_t>(400)}, 1, 100)},
      {"ZeroRate", make(lpcm(0), 1, 400)},
      {"NaNRate", make(lpcm(std::numeric_limits<double>::quiet_NaN()), 1, 400)},
      {"HugeRate", make(lpcm(1e12), 1, 400)},
      {"NoChannels", make(lpcm(48000, 0), 0, 0)},
      {"AbsurdChannelCount", make(lpcm(48000, 65), 65, 400)},
      {"PartialFrame", make(lpcm(48000), 1, 402)},
      {"ChannelsOfDifferentLength",
       CMSampleBufferCreateWithAudioBuffers(
           lpcm(48000, 2), {std::vector<std::uint8_t>(400), std::vector<std::uint8_t>(200)})},
      {"InterleavedSplitInTwo", make(lpcm(48000, 2, 16, false, true), 2, 400)},
      {"BigEndian", make(lpcm(48000, 1, 16, false, false, true), 1, 200)},
      {"Packed24Bit", make(lpcm(48000, 1, 24, false), 1, 300)},
      {"Float64", make(lpcm(48000, 1, 64), 1, 800)},
      {"NotLinearPcm", make(notPcm, 1, 400)},
      {"FrameSmallerThanSample", make(padded, 1, 400)},
  };
}

// Whatever the platform or a failing device delivers, a malformed buffer
// yields an empty block: no crash, no read outside the bytes, no noise.
class AudioConverterMalformedInputTest : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(AudioConverterMalformedInputTest, GivesAnEmptyBlock) {
  EXPECT_EQ(AudioConverter::convertToPcmBuffer(GetParam().second), nullptr);
  EXPECT_TRUE(AudioConverter().convert(GetParam().second).empty());
}

INSTANTIATE_TEST_SUITE_P(Malformed, AudioConverterMalformedInputTest,
                         ::testing::ValuesIn(malformedCases()),
                         [](const auto& info) { return info.param.first; });

}  // namespace
}  // namespace harkwell
