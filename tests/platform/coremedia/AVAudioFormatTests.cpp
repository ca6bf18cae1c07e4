#include "platform/coremedia/AVAudioFormat.h"

#include <gtest/gtest.h>

namespace {

// The delivered description decides how bytes are read: a big-endian layout
// must not pass for native int16, and a description whose sizes contradict
// each other must not be read at all. (Rates, channel counts and foreign
// encodings are refused on the converter's malformed-input table.)
TEST(AVAudioFormatStreamDescriptionTest, ClassifiesForeignLayoutsAndRefusesContradictions) {
  AudioStreamBasicDescription asbd;
  FillOutASBDForLPCM(asbd, 48000, 2, 16, 16, false, true, false);
  const auto bigEndian = AVAudioFormat::initWithStreamDescription(asbd);
  ASSERT_NE(bigEndian, nullptr);
  EXPECT_EQ(bigEndian->commonFormat(), AVAudioCommonFormat::AVAudioOtherFormat);
  EXPECT_EQ(bigEndian->channelCount(), 2u);

  FillOutASBDForLPCM(asbd, 48000, 2, 16, 16, false, false, false);
  AudioStreamBasicDescription packetAndFrameDisagree = asbd;
  packetAndFrameDisagree.mBytesPerPacket = 8;
  AudioStreamBasicDescription zeroFramesPerPacket = asbd;
  zeroFramesPerPacket.mFramesPerPacket = 0;
  EXPECT_EQ(AVAudioFormat::initWithStreamDescription(packetAndFrameDisagree), nullptr);
  EXPECT_EQ(AVAudioFormat::initWithStreamDescription(zeroFramesPerPacket), nullptr);
}

}  // namespace
