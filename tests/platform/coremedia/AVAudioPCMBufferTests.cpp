#include "platform/coremedia/AVAudioPCMBuffer.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace {

std::shared_ptr<const AVAudioFormat> format(AVAudioCommonFormat common,
                                            AVAudioChannelCount channels, bool interleaved) {
  return AVAudioFormat::initWithCommonFormat(common, 48000, channels, interleaved);
}

AudioBufferList listOf(std::vector<AudioBuffer> buffers) {
  AudioBufferList list;
  list.mNumberBuffers = static_cast<UInt32>(buffers.size());
  list.mBuffers = std::move(buffers);
  return list;
}

// A reader walks channelData[k][i * stride] for i < frameLength: creation must
// refuse any list where that walk could leave a buffer or read misaligned.
class AVAudioPCMBufferBoundsTest : public ::testing::Test {
 protected:
  alignas(16) std::uint8_t bytes_[4][64] = {};
};

TEST_F(AVAudioPCMBufferBoundsTest, InterleavedChannelsStartOneSampleApartAndStepByTheChannelCount) {
  const auto pcm = AVAudioPCMBuffer::initWithPCMFormat(
      format(AVAudioCommonFormat::AVAudioPCMFormatInt16, 3, true), listOf({{3, 60, bytes_[0]}}));
  ASSERT_NE(pcm, nullptr);
  EXPECT_EQ(pcm->frameLength(), 10u);
  EXPECT_EQ(pcm->stride(), 3u);
  ASSERT_NE(pcm->int16ChannelData(), nullptr);
  const auto* base = reinterpret_cast<std::int16_t*>(bytes_[0]);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(pcm->int16ChannelData()[k], base + k);
  EXPECT_EQ(pcm->floatChannelData(), nullptr);
}

struct BadList {
  const char* name;
  AVAudioCommonFormat common;
  AVAudioChannelCount channels;
  bool interleaved;
  // Buffers as (channels, byte size, which of bytes_, byte offset); -1 = null data.
  std::vector<std::array<int, 4>> buffers;
  int numberBuffersDelta = 0;
};

class AVAudioPCMBufferRefusalTest : public AVAudioPCMBufferBoundsTest,
                                    public ::testing::WithParamInterface<BadList> {};

TEST_P(AVAudioPCMBufferRefusalTest, RefusesTheList) {
  const BadList& c = GetParam();
  std::vector<AudioBuffer> buffers;
  for (const auto& [channels, size, which, offset] : c.buffers) {
    void* data = which < 0 ? nullptr : bytes_[which] + offset;
    buffers.push_back({static_cast<UInt32>(channels), static_cast<UInt32>(size), data});
  }
  AudioBufferList list = listOf(buffers);
  list.mNumberBuffers += c.numberBuffersDelta;
  EXPECT_EQ(AVAudioPCMBuffer::initWithPCMFormat(format(c.common, c.channels, c.interleaved), list),
            nullptr);
}

using F = AVAudioCommonFormat;
INSTANTIATE_TEST_SUITE_P(
    BadLists, AVAudioPCMBufferRefusalTest,
    ::testing::Values(
        BadList{"PartialFrame", F::AVAudioPCMFormatFloat32, 1, false, {{1, 6, 0, 0}}},
        BadList{"ChannelsOfDifferentLength",
                F::AVAudioPCMFormatFloat32,
                2,
                false,
                {{1, 40, 0, 0}, {1, 36, 1, 0}}},
        BadList{"TooFewPlanarBuffers",
                F::AVAudioPCMFormatFloat32,
                3,
                false,
                {{1, 8, 0, 0}, {1, 8, 1, 0}}},
        BadList{"TwoBuffersWhenInterleaved",
                F::AVAudioPCMFormatFloat32,
                2,
                true,
                {{2, 8, 0, 0}, {2, 8, 1, 0}}},
        BadList{"ChannelCountDisagrees", F::AVAudioPCMFormatFloat32, 2, true, {{1, 8, 0, 0}}},
        BadList{
            "NumberOfBuffersDisagrees", F::AVAudioPCMFormatFloat32, 1, false, {{1, 8, 0, 0}}, 1},
        BadList{"NullDataWithBytes", F::AVAudioPCMFormatFloat32, 1, false, {{1, 8, -1, 0}}},
        BadList{"MisalignedFloats", F::AVAudioPCMFormatFloat32, 1, false, {{1, 8, 0, 2}}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
