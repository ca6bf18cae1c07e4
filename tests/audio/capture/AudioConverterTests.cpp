#include "audio/capture/AudioConverter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

namespace harkwell {
namespace {

enum class SampleKind { float32, int16, int32 };

const char* nameOf(SampleKind kind) {
  switch (kind) {
    case SampleKind::float32:
      return "Float32";
    case SampleKind::int16:
      return "Int16";
    default:
      return "Int32";
  }
}

AudioStreamBasicDescription describe(SampleKind kind, double rate, UInt32 channels,
                                     bool interleaved) {
  const UInt32 bits = kind == SampleKind::int16 ? 16 : 32;
  AudioStreamBasicDescription asbd;
  FillOutASBDForLPCM(asbd, rate, channels, bits, bits, kind == SampleKind::float32, false,
                     !interleaved);
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
  switch (kind) {
    case SampleKind::float32:
      return static_cast<double>(static_cast<float>(raw) / 100.0f);
    case SampleKind::int16:
      return static_cast<double>(raw) / 32767.0;
    default:
      return static_cast<double>(raw) / 2147483648.0;
  }
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
  return CMSampleBufferCreateWithAudioBuffers(describe(kind, rate, channels, interleaved), buffers);
}

double expectedMono(SampleKind kind, UInt32 channels, std::size_t frame) {
  double sum = 0;
  for (UInt32 c = 0; c < channels; ++c) sum += scaled(kind, rawSample(kind, c, frame));
  return sum / channels;
}

// Mono float32 channels in one buffer each, frame i of channel c given by value(c, i).
template <typename Value>
CMSampleBufferRef floatBuffer(double rate, UInt32 channels, std::size_t frames, Value value) {
  std::vector<std::vector<float>> data(channels, std::vector<float>(frames));
  for (UInt32 c = 0; c < channels; ++c) {
    for (std::size_t i = 0; i < frames; ++i) data[c][i] = value(c, i);
  }
  return CMSampleBufferCreateWithFloat32Channels(rate, data);
}

std::vector<float> ramp(std::size_t n, float start = 0) {
  std::vector<float> x(n);
  for (std::size_t i = 0; i < n; ++i) x[i] = start + static_cast<float>(i);
  return x;
}

using FormatCase = std::tuple<double, UInt32, SampleKind, bool>;

// Every delivered layout must come out as the same mono 16 kHz signal: a wrong
// stride, scale or channel count would turn speech into noise.
class AudioConverterFormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(AudioConverterFormatTest, TenMillisecondsBecomeTheAveragedSignalPickedAt16kHz) {
  const auto [rate, channels, kind, interleaved] = GetParam();
  const auto frames = static_cast<std::size_t>(rate / 100);
  AudioConverter converter;
  const std::vector<float> out =
      converter.convert(makeBuffer(kind, rate, channels, interleaved, frames));
  ASSERT_EQ(out.size(), 160u);
  for (std::size_t j = 0; j < out.size(); ++j) {
    const auto frame = static_cast<std::size_t>(j * static_cast<std::uint64_t>(rate) / 16000);
    ASSERT_NEAR(out[j], expectedMono(kind, channels, frame), 1e-6) << "output " << j;
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, AudioConverterFormatTest,
                         ::testing::Combine(::testing::Values(16000.0, 44100.0, 48000.0, 8000.0),
                                            ::testing::Values(1u, 2u, 6u),
                                            ::testing::Values(SampleKind::float32,
                                                              SampleKind::int16, SampleKind::int32),
                                            ::testing::Bool()),
                         [](const auto& info) {
                           return std::to_string(static_cast<int>(std::get<0>(info.param))) + "Hz" +
                                  std::to_string(std::get<1>(info.param)) + "ch" +
                                  nameOf(std::get<2>(info.param)) +
                                  (std::get<3>(info.param) ? "Interleaved" : "Planar");
                         });

// The documented behaviour of a first buffer, which the UI's tests rely on.
class AudioConverterExamplesTest : public ::testing::Test {};

TEST_F(AudioConverterExamplesTest, StereoAt48kHzAveragesEveryThirdFrame) {
  const auto sbuf = floatBuffer(48000, 2, 1024, [](UInt32 c, std::size_t i) {
    return c == 0 ? static_cast<float>(i) : 1.0f;
  });
  const auto out = AudioConverter().convert(sbuf);
  ASSERT_EQ(out.size(), 342u);
  for (std::size_t j = 0; j < out.size(); ++j) {
    ASSERT_EQ(out[j], (static_cast<float>(3 * j) + 1.0f) / 2.0f);
  }
  EXPECT_EQ(out.back(), (1023.0f + 1.0f) / 2.0f);
}

TEST_F(AudioConverterExamplesTest, BlockLengthsFollowTheRate) {
  const auto constant = [](UInt32, std::size_t i) { return static_cast<float>(i); };
  EXPECT_EQ(AudioConverter().convert(floatBuffer(48000, 1, 480, constant)).size(), 160u);
  const auto at44k = AudioConverter().convert(floatBuffer(44100, 1, 1024, constant));
  ASSERT_EQ(at44k.size(), 372u);
  EXPECT_EQ(at44k.back(), 1022.0f);
  EXPECT_EQ(std::vector<float>(at44k.begin(), at44k.begin() + 7),
            (std::vector<float>{0, 2, 5, 8, 11, 13, 16}));
}

TEST_F(AudioConverterExamplesTest, SixteenKilohertzPassesThroughUnchanged) {
  const auto sbuf = floatBuffer(16000, 1, 777, [](UInt32, std::size_t i) { return 0.001f * i; });
  const auto out = AudioConverter().convert(sbuf);
  ASSERT_EQ(out.size(), 777u);
  for (std::size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], 0.001f * i);
}

TEST_F(AudioConverterExamplesTest, IntegerExtremesScaleByTheirFixedDivisors) {
  AudioStreamBasicDescription asbd16;
  FillOutASBDForLPCM(asbd16, 16000, 1, 16, 16, false, false, true);
  std::vector<std::uint8_t> bytes16(4);
  put(bytes16, 0, std::int16_t{32767});
  put(bytes16, 1, std::int16_t{-32768});
  EXPECT_EQ(AudioConverter().convert(CMSampleBufferCreateWithAudioBuffers(asbd16, {bytes16})),
            (std::vector<float>{1.0f, -32768.0f / 32767.0f}));
  EXPECT_FLOAT_EQ(-32768.0f / 32767.0f, -1.0000305f);

  AudioStreamBasicDescription asbd32;
  FillOutASBDForLPCM(asbd32, 16000, 1, 32, 32, false, false, false);
  std::vector<std::uint8_t> bytes32(4);
  put(bytes32, 0, std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(AudioConverter().convert(CMSampleBufferCreateWithAudioBuffers(asbd32, {bytes32})),
            (std::vector<float>{-1.0f}));
}

TEST_F(AudioConverterExamplesTest, ChannelsWithoutUsableDataGiveSilenceOfFullLength) {
  AudioStreamBasicDescription asbd;
  FillOutASBDForLPCM(asbd, 48000, 2, 64, 64, true, false, false);
  alignas(16) std::uint8_t bytes[16 * 5] = {1, 2, 3};
  AudioBufferList list;
  list.mNumberBuffers = 1;
  list.mBuffers.push_back({2, sizeof bytes, bytes});
  const auto pcm =
      AVAudioPCMBuffer::initWithPCMFormat(AVAudioFormat::initWithStreamDescription(asbd), list);
  ASSERT_NE(pcm, nullptr);
  EXPECT_EQ(AudioConverter::convertToFloat32Array(*pcm), std::vector<float>(5, 0.0f));
}

TEST_F(AudioConverterExamplesTest, EmptySampleBufferGivesAnEmptyBlock) {
  for (const bool interleaved : {false, true}) {
    EXPECT_TRUE(AudioConverter()
                    .convert(CMSampleBufferCreateEmpty(
                        describe(SampleKind::float32, 48000, 2, interleaved)))
                    .empty());
  }
}

// resample() on its own is a single-block picker with a fixed contract.
class AudioConverterResampleTest : public ::testing::Test {};

TEST_F(AudioConverterResampleTest, UpsamplingRepeatsEachSample) {
  EXPECT_EQ(AudioConverter::resample({1, 2, 3}, 8000, 16000),
            (std::vector<float>{1, 1, 2, 2, 3, 3}));
}

TEST_F(AudioConverterResampleTest, FractionalStepTakesTheSampleAtOrBefore) {
  const auto out = AudioConverter::resample(ramp(20), 44100, 16000);
  EXPECT_EQ(out, (std::vector<float>{0, 2, 5, 8, 11, 13, 16, 19}));
}

TEST_F(AudioConverterResampleTest, LengthRoundedUpInFloatLeavesAnUnreachedZero) {
  // 381 / 48000 * 16000 is 127 exactly, but 127.00001 in float32.
  const auto out = AudioConverter::resample(ramp(381, 1), 48000, 16000);
  ASSERT_EQ(out.size(), 128u);
  EXPECT_EQ(out[126], 379.0f);
  EXPECT_EQ(out[127], 0.0f);
}

TEST_F(AudioConverterResampleTest, ConvertDropsTheUnreachedZero) {
  const auto out = AudioConverter().convert(
      floatBuffer(48000, 1, 381, [](UInt32, std::size_t i) { return static_cast<float>(i + 1); }));
  ASSERT_EQ(out.size(), 127u);
  EXPECT_EQ(out.back(), 379.0f);
}

TEST_F(AudioConverterResampleTest, CorruptRatesGiveNothing) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  for (const auto& [from, to] : std::vector<std::pair<float, float>>{
           {0, 16000}, {-48000, 16000}, {nan, 16000}, {inf, 16000}, {48000, 0}, {1e-30f, 16000}}) {
    EXPECT_TRUE(AudioConverter::resample(ramp(100), from, to).empty()) << from << " -> " << to;
  }
}

// Over a long capture the blocks together must be the exact 16 kHz picking of
// the continuous input: a fractional position lost per buffer drifts the
// audio and changes its length.
class AudioConverterStreamTest : public ::testing::Test {
 protected:
  // Feeds `sizes` consecutive buffers of a mono ramp (value = frame index
  // modulo `wrap`, exact in float) and returns all output.
  std::vector<float> feed(AudioConverter& converter, double rate,
                          const std::vector<std::size_t>& sizes, std::uint64_t wrap = 1 << 24) {
    std::vector<float> all;
    std::uint64_t frame = 0;
    for (const std::size_t size : sizes) {
      const auto sbuf = floatBuffer(rate, 1, size, [&](UInt32, std::size_t i) {
        return static_cast<float>((frame + i) % wrap);
      });
      frame += size;
      const auto out = converter.convert(sbuf);
      all.insert(all.end(), out.begin(), out.end());
    }
    return all;
  }
};

TEST_F(AudioConverterStreamTest, AThousandBuffersAt48kHzKeepEveryThirdFrame) {
  AudioConverter converter;
  const auto all = feed(converter, 48000, std::vector<std::size_t>(1000, 1024));
  ASSERT_NEAR(static_cast<double>(all.size()), 1000.0 * 1024 / 3, 1.0);
  for (std::size_t j = 0; j < all.size(); ++j) ASSERT_EQ(all[j], static_cast<float>(3 * j)) << j;
}

TEST_F(AudioConverterStreamTest, UnevenBuffersAt44100HzPickTheExactFrames) {
  std::vector<std::size_t> sizes;
  for (std::size_t k = 0; k < 500; ++k) sizes.push_back(1 + (k * 7919) % 2048);
  AudioConverter converter;
  const auto all = feed(converter, 44100, sizes);
  std::uint64_t total = 0;
  for (const auto size : sizes) total += size;
  ASSERT_NEAR(static_cast<double>(all.size()), std::ceil(total * 16000.0 / 44100), 1.0);
  // The first block is picked by float stepping, which may sit one frame early.
  for (std::size_t j = 0; j < all.size(); ++j) {
    const auto exact = static_cast<float>(j * 44100 / 16000);
    if (j < 16) {
      ASSERT_NEAR(all[j], exact, 1.0f) << j;
    } else {
      ASSERT_EQ(all[j], exact) << j;
    }
  }
}

TEST_F(AudioConverterStreamTest, AnHourAt44100HzEndsOnTheExactFrame) {
  // 8 buffers of 1024 frames repeat the wrapped ramp, so they can be built once.
  constexpr std::uint64_t wrap = 8192;
  std::vector<CMSampleBufferRef> cycle;
  for (std::uint64_t k = 0; k < 8; ++k) {
    cycle.push_back(floatBuffer(44100, 1, 1024, [&](UInt32, std::size_t i) {
      return static_cast<float>((k * 1024 + i) % wrap);
    }));
  }
  AudioConverter converter;
  const std::uint64_t buffers = 44100ull * 3600 / 1024;
  std::uint64_t produced = 0;
  std::vector<float> last;
  for (std::uint64_t k = 0; k < buffers; ++k) {
    last = converter.convert(cycle[k % 8]);
    produced += last.size();
  }
  const std::uint64_t frames = buffers * 1024;
  EXPECT_NEAR(static_cast<double>(produced), std::ceil(frames * 16000.0 / 44100), 1.0);
  ASSERT_FALSE(last.empty());
  for (std::size_t i = 0; i < last.size(); ++i) {
    const std::uint64_t j = produced - last.size() + i;
    ASSERT_EQ(last[i], static_cast<float>(j * 44100 / 16000 % wrap)) << j;
  }
}

TEST_F(AudioConverterStreamTest, NonIntegerRatesArePickedExactly) {
  AudioConverter converter;
  const auto all = feed(converter, 47999.5, std::vector<std::size_t>(300, 1000));
  for (std::size_t j = 400; j < all.size(); ++j) {
    ASSERT_EQ(all[j], static_cast<float>(j * 95999 / 32000)) << j;
  }
}

TEST_F(AudioConverterStreamTest, ARateChangeStartsANewStream) {
  AudioConverter converter;
  feed(converter, 48000, std::vector<std::size_t>(10, 1000));
  const auto first = feed(converter, 44100, {1024});
  EXPECT_EQ(first, AudioConverter::resample(ramp(1024), 44100, 16000));
  feed(converter, 16000, {100});
  EXPECT_EQ(feed(converter, 44100, {1024}), first);
}

TEST_F(AudioConverterStreamTest, ARejectedBufferDoesNotBreakTheStream) {
  AudioConverter converter;
  const auto before = feed(converter, 48000, {1000});
  const auto bad =
      CMSampleBufferCreateWithAudioBuffers(describe(SampleKind::float32, 48000, 1, false),
                                           {std::vector<std::uint8_t>(4000)}, 999, kCMTimeZero);
  EXPECT_TRUE(converter.convert(bad).empty());
  const auto after = feed(converter, 48000, {1000});
  ASSERT_FALSE(after.empty());
  // Frame 1000 is the second buffer's frame 0; output 334 picks frame 1002.
  EXPECT_EQ(before.size(), 334u);
  EXPECT_EQ(after.front(), 2.0f);
}

struct MalformedCase {
  std::string name;
  CMSampleBufferRef sbuf;
  friend void PrintTo(const MalformedCase& c, std::ostream* os) { *os << c.name; }
};

AudioStreamBasicDescription withRate(double rate) {
  return describe(SampleKind::float32, rate, 1, false);
}

std::vector<std::vector<std::uint8_t>> planar(std::size_t buffers, std::size_t bytes) {
  return std::vector<std::vector<std::uint8_t>>(buffers, std::vector<std::uint8_t>(bytes));
}

std::vector<MalformedCase> malformedCases() {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  auto make = [](const AudioStreamBasicDescription& asbd, std::size_t buffers, std::size_t bytes) {
    return CMSampleBufferCreateWithAudioBuffers(asbd, planar(buffers, bytes));
  };
  auto stereo = describe(SampleKind::float32, 48000, 2, false);
  auto interleaved = describe(SampleKind::int16, 48000, 2, true);
  auto many = describe(SampleKind::float32, 48000, 65, false);
  AudioStreamBasicDescription bigEndian;
  FillOutASBDForLPCM(bigEndian, 48000, 1, 16, 16, false, true, false);
  AudioStreamBasicDescription packed24;
  FillOutASBDForLPCM(packed24, 48000, 1, 24, 24, false, false, false);
  AudioStreamBasicDescription float64;
  FillOutASBDForLPCM(float64, 48000, 1, 64, 64, true, false, false);
  auto notPcm = withRate(48000);
  notPcm.mFormatID = 0x61616320;
  auto padded = withRate(48000);
  padded.mBytesPerFrame = padded.mBytesPerPacket = 2;
  return {
      {"Null", nullptr},
      {"Invalidated", CMSampleBufferCreateInvalidated(make(withRate(48000), 1, 400))},
      {"NoFormatDescription", CMSampleBufferCreateWithoutFormatDescription(planar(1, 400), 1, 100)},
      {"VideoFrame", CMSampleBufferCreateVideoFrame()},
      {"ZeroRate", make(withRate(0), 1, 400)},
      {"NegativeRate", make(withRate(-48000), 1, 400)},
      {"NaNRate", make(withRate(nan), 1, 400)},
      {"InfiniteRate", make(withRate(inf), 1, 400)},
      {"TinyRate", make(withRate(1e-3), 1, 400)},
      {"HugeRate", make(withRate(1e12), 1, 400)},
      {"NoChannels", make(describe(SampleKind::float32, 48000, 0, false), 0, 0)},
      {"AbsurdChannelCount", make(many, 65, 400)},
      {"PartialFrame", make(withRate(48000), 1, 402)},
      {"ChannelsOfDifferentLength",
       CMSampleBufferCreateWithAudioBuffers(
           stereo, {std::vector<std::uint8_t>(400), std::vector<std::uint8_t>(200)})},
      {"FewerBuffersThanChannels", make(stereo, 1, 400)},
      {"InterleavedSplitInTwo", make(interleaved, 2, 400)},
      {"FrameCountAboveTheBytes",
       CMSampleBufferCreateWithAudioBuffers(withRate(48000), planar(1, 400), 101, kCMTimeZero)},
      {"AbsurdFrameCount", CMSampleBufferCreateWithAudioBuffers(withRate(48000), planar(1, 400),
                                                                CMItemCount{1} << 40, kCMTimeZero)},
      {"NegativeFrameCount",
       CMSampleBufferCreateWithAudioBuffers(withRate(48000), planar(1, 400), -1, kCMTimeZero)},
      {"BigEndian", make(bigEndian, 1, 200)},
      {"Packed24Bit", make(packed24, 1, 300)},
      {"Float64", make(float64, 1, 800)},
      {"NotLinearPcm", make(notPcm, 1, 400)},
      {"FrameSmallerThanSample", make(padded, 1, 400)},
  };
}

// Whatever the platform or a failing device delivers, a malformed buffer
// yields an empty block: no crash, no read outside the bytes, no noise.
class AudioConverterMalformedInputTest : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(AudioConverterMalformedInputTest, GivesAnEmptyBlock) {
  EXPECT_EQ(AudioConverter::convertToPcmBuffer(GetParam().sbuf), nullptr);
  EXPECT_TRUE(AudioConverter().convert(GetParam().sbuf).empty());
}

INSTANTIATE_TEST_SUITE_P(Malformed, AudioConverterMalformedInputTest,
                         ::testing::ValuesIn(malformedCases()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace harkwell
