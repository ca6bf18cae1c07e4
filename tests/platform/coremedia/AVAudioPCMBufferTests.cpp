#include "platform/coremedia/AVAudioPCMBuffer.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace {

struct BadList {
  const char* name;
  AVAudioChannelCount channels;
  bool interleaved;
  // Buffers as (channels, byte size, which of bytes_, byte offset); -1 = null data.
  std::vector<std::array<int, 4>> buffers;
  int numberBuffersDelta = 0;
};

// A reader walks channelData[k][i * stride] for i < frameLength: creation must
// refuse any list where that walk could leave a buffer or read misaligned.
class AVAudioPCMBufferRefusalTest : public ::testing::TestWithParam<BadList> {
 protected:
  alignas(16) std::uint8_t bytes_[4][64] = {};
};

TEST_P(AVAudioPCMBufferRefusalTest, RefusesTheList) {
  const BadList& c = GetParam();
  AudioBufferList list;
  for (const auto& [channels, size, which, offset] : c.buffers) {
    void* data = which < 0 ? nullptr : bytes_[which] + offset;
    list.mBuffers.push_back({static_cast<UInt32>(channels), static_cast<UInt32>(size), data});
  }
  list.mNumberBuffers = static_cast<UInt32>(list.mBuffers.size() + c.numberBuffersDelta);
  const auto format = AVAudioFormat::initWithCommonFormat(
      AVAudioCommonFormat::AVAudioPCMFormatFloat32, 48000, c.channels, c.interleaved);
  ASSERT_NE(format, nullptr);
  EXPECT_EQ(AVAudioPCMBuffer::initWithPCMFormat(format, list), nullptr);
}

// Partial frames, uneven channels and split interleaved buffers are refused on
// the converter's malformed-input table; these are the ones it cannot reach.
INSTANTIATE_TEST_SUITE_P(
    BadLists, AVAudioPCMBufferRefusalTest,
    ::testing::Values(BadList{"TooFewPlanarBuffers", 3, false, {{1, 8, 0, 0}, {1, 8, 1, 0}}},
                      BadList{"ChannelCountDisagrees", 2, true, {{1, 8, 0, 0}}},
                      BadList{"NumberOfBuffersDisagrees", 1, false, {{1, 8, 0, 0}}, 1},
                      BadList{"NullDataWithBytes", 1, false, {{1, 8, -1, 0}}},
                      BadList{"MisalignedFloats", 1, false, {{1, 8, 0, 2}}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
