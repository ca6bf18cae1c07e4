#include "platform/coremedia/AVAudioFormat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

// A corrupt rate or channel count must be refused at the format, because
// everything downstream sizes its arrays and steps from these numbers.
struct BadShape {
  double rate;
  AVAudioChannelCount channels;
};

class AVAudioFormatRefusalTest : public ::testing::TestWithParam<BadShape> {};

TEST_P(AVAudioFormatRefusalTest, NoFormatForACorruptRateOrChannelCount) {
  const auto [rate, channels] = GetParam();
  EXPECT_EQ(AVAudioFormat::initStandardFormatWithSampleRate(rate, channels), nullptr);
  EXPECT_EQ(AVAudioFormat::initWithCommonFormat(AVAudioCommonFormat::AVAudioPCMFormatInt16, rate,
                                                channels, true),
            nullptr);
  AudioStreamBasicDescription asbd;
  FillOutASBDForLPCM(asbd, rate, channels, 16, 16, false, false, false);
  EXPECT_EQ(AVAudioFormat::initWithStreamDescription(asbd), nullptr);
}

INSTANTIATE_TEST_SUITE_P(BadShapes, AVAudioFormatRefusalTest,
                         ::testing::Values(BadShape{-48000, 2}, BadShape{std::nan(""), 2},
                                           BadShape{std::numeric_limits<double>::infinity(), 2},
                                           BadShape{48000, 0}, BadShape{48000, 65}));

struct DescriptionCase {
  std::string name;
  AudioStreamBasicDescription asbd;
  bool accepted;
  AVAudioCommonFormat commonFormat;
  bool interleaved;
};

AudioStreamBasicDescription lpcm(UInt32 validBits, UInt32 totalBits, bool isFloat, bool bigEndian,
                                 bool nonInterleaved, UInt32 channels = 2) {
  AudioStreamBasicDescription asbd;
  FillOutASBDForLPCM(asbd, 48000, channels, validBits, totalBits, isFloat, bigEndian,
                     nonInterleaved);
  return asbd;
}

AudioStreamBasicDescription changed(AudioStreamBasicDescription asbd,
                                    void (*change)(AudioStreamBasicDescription&)) {
  change(asbd);
  return asbd;
}

// The delivered description decides how bytes are read; a description whose
// sizes contradict each other must not be read at all.
class AVAudioFormatStreamDescriptionTest : public ::testing::TestWithParam<DescriptionCase> {};

TEST_P(AVAudioFormatStreamDescriptionTest, ClassifiesOrRefusesTheDescription) {
  const DescriptionCase& c = GetParam();
  const auto format = AVAudioFormat::initWithStreamDescription(c.asbd);
  ASSERT_EQ(format != nullptr, c.accepted);
  if (!format) return;
  EXPECT_EQ(format->commonFormat(), c.commonFormat);
  EXPECT_EQ(format->isInterleaved(), c.interleaved);
  EXPECT_EQ(format->channelCount(), c.asbd.mChannelsPerFrame);
}

using F = AVAudioCommonFormat;
INSTANTIATE_TEST_SUITE_P(
    Descriptions, AVAudioFormatStreamDescriptionTest,
    ::testing::Values(DescriptionCase{"Float32Planar", lpcm(32, 32, true, false, true), true,
                                      F::AVAudioPCMFormatFloat32, false},
                      DescriptionCase{"Int16Interleaved", lpcm(16, 16, false, false, false), true,
                                      F::AVAudioPCMFormatInt16, true},
                      DescriptionCase{"BigEndianInt16", lpcm(16, 16, false, true, false), true,
                                      F::AVAudioOtherFormat, true},
                      DescriptionCase{"NotLinearPcm",
                                      changed(lpcm(16, 16, false, false, false),
                                              [](auto& a) { a.mFormatID = 0x61616320; }),
                                      false, F::AVAudioOtherFormat, false},
                      DescriptionCase{
                          "FrameTooSmallForItsSamples",
                          changed(lpcm(32, 32, true, false, false),
                                  [](auto& a) { a.mBytesPerFrame = a.mBytesPerPacket = 4; }),
                          false, F::AVAudioOtherFormat, false},
                      DescriptionCase{"PacketAndFrameDisagree",
                                      changed(lpcm(16, 16, false, false, false),
                                              [](auto& a) { a.mBytesPerPacket = 8; }),
                                      false, F::AVAudioOtherFormat, false},
                      DescriptionCase{"ZeroFramesPerPacket",
                                      changed(lpcm(16, 16, false, false, false),
                                              [](auto& a) { a.mFramesPerPacket = 0; }),
                                      false, F::AVAudioOtherFormat, false}),
    [](const auto& info) { return info.param.name; });

}  // namespace
