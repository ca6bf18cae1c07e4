#include "platform/coremedia/AVAudioFormat.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "platform/coremedia/AVAudioPCMBuffer.h"
#include "platform/coremedia/CMSampleBuffer.h"

namespace {

using Kind = AVAudioCommonFormat;

// The converter and the controllers reach the audio only through this list:
// it must point at the bytes for as long as the block is held, and every
// refusal must be its own status with both outputs cleared, never stale
// pointers (the converter only sees that the call failed).
TEST(CMSampleBufferTest, ListComesWithItsBlockAndRefusalsClearBothOutputs) {
  auto sbuf = CMSampleBufferCreateWithFloat32Channels(48000, {{1, 2}, {4, 5}});
  AudioBufferList list;
  CMBlockBufferRef block;
  ASSERT_EQ(CMSampleBufferGetAudioBufferListWithRetainedBlockBuffer(sbuf, &list, nullptr, nullptr,
                                                                    0, &block),
            noErr);
  EXPECT_EQ(block, CMSampleBufferGetDataBuffer(sbuf));  // keeps the list's bytes alive

  const struct {
    CMSampleBufferRef sbuf;
    OSStatus status;
  } refusals[] = {
      {nullptr, kCMSampleBufferError_RequiredParameterMissing},
      {CMSampleBufferCreateInvalidated(CMSampleBufferCreateWithFloat32Channels(48000, {{1, 2}})),
       kCMSampleBufferError_Invalidated},
      {CMSampleBufferCreateWithoutFormatDescription({{0, 0, 0, 0}}, 1, 1),
       kCMSampleBufferError_InvalidMediaFormat},
      {CMSampleBufferCreateVideoFrame(), kCMSampleBufferError_InvalidMediaTypeForOperation},
  };
  for (const auto& c : refusals) {
    list = {1, {{1, 4, &list}}};
    block = std::make_shared<const CMBlockBuffer>(4);
    EXPECT_EQ(CMSampleBufferGetAudioBufferListWithRetainedBlockBuffer(c.sbuf, &list, nullptr,
                                                                      nullptr, 0, &block),
              c.status);
    EXPECT_TRUE(list.mNumberBuffers == 0 && list.mBuffers.empty());
    EXPECT_EQ(block, nullptr);
  }
}

// The delivered description decides how bytes are read: each layout must be
// named for what it is (the converter's tables prove the three it reads and
// the big-endian and packed 24-bit ones), the common ones must describe
// themselves the same way when built directly, and sizes that contradict each
// other must not be read at all.
TEST(AVAudioFormatTest, ClassifiesEachLayoutAndRefusesContradictions) {
  const struct {
    UInt32 validBits, totalBits;
    bool isFloat, interleaved;
    Kind expected;
    std::uint32_t bytesPerSample;
  } rows[] = {
      {32, 32, true, true, Kind::AVAudioPCMFormatFloat32, 4},
      {64, 64, true, false, Kind::AVAudioPCMFormatFloat64, 8},
      {16, 16, false, true, Kind::AVAudioPCMFormatInt16, 2},
      {32, 32, false, false, Kind::AVAudioPCMFormatInt32, 4},
      {64, 64, false, true, Kind::AVAudioOtherFormat, 0},  // int64
      {24, 32, false, true, Kind::AVAudioOtherFormat, 0},  // padded
  };
  AudioStreamBasicDescription asbd;
  for (const auto& row : rows) {
    FillOutASBDForLPCM(asbd, 48000, 2, row.validBits, row.totalBits, row.isFloat, false,
                       !row.interleaved);
    const auto format = AVAudioFormat::initWithStreamDescription(asbd);
    ASSERT_NE(format, nullptr) << row.totalBits;
    EXPECT_EQ(format->commonFormat(), row.expected) << row.totalBits;
    EXPECT_EQ(format->bytesPerSample(), row.bytesPerSample);
    const auto direct =
        AVAudioFormat::initWithCommonFormat(row.expected, 48000, 2, row.interleaved);
    EXPECT_EQ(direct != nullptr, row.expected != Kind::AVAudioOtherFormat);
    EXPECT_TRUE(!direct || direct->streamDescription() == asbd);
  }
  asbd.mBytesPerPacket = 4;  // the last row has 8-byte frames: packet and frame disagree
  EXPECT_EQ(AVAudioFormat::initWithStreamDescription(asbd), nullptr);
  asbd.mBytesPerPacket = asbd.mBytesPerFrame;
  asbd.mFramesPerPacket = 0;
  EXPECT_EQ(AVAudioFormat::initWithStreamDescription(asbd), nullptr);
}

// A reader walks channelData[k][i * stride] for i < frameLength: creation must
// refuse any list where that walk could leave a buffer or read misaligned.
// (Partial frames, uneven channels and split interleaved buffers are refused
// on the converter's malformed-input table; these are the ones it cannot reach.)
TEST(AVAudioPCMBufferTest, RefusesListsThatAReaderCouldWalkOutOf) {
  alignas(16) static std::uint8_t bytes[2][64] = {};
  const struct {
    AVAudioChannelCount channels;
    bool interleaved;
    AudioBufferList list;
  } cases[] = {
      {3, false, {2, {{1, 8, bytes[0]}, {1, 8, bytes[1]}}}},  // too few planar buffers
      {2, true, {1, {{1, 8, bytes[0]}}}},                     // channel count disagrees
      {1, false, {2, {{1, 8, bytes[0]}}}},                    // number of buffers disagrees
      {1, false, {1, {{1, 8, nullptr}}}},                     // null data with bytes
      {1, false, {1, {{1, 8, bytes[0] + 2}}}},                // misaligned floats
  };
  for (const auto& c : cases) {
    const auto format = AVAudioFormat::initWithCommonFormat(Kind::AVAudioPCMFormatFloat32, 48000,
                                                            c.channels, c.interleaved);
    EXPECT_EQ(AVAudioPCMBuffer::initWithPCMFormat(format, c.list), nullptr) << c.channels;
  }
}

}  // namespace
