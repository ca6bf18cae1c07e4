#include "platform/coremedia/CMSampleBuffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<float> floatsAt(const AudioBuffer& buffer) {
  std::vector<float> values(buffer.mDataByteSize / sizeof(float));
  std::memcpy(values.data(), buffer.mData, buffer.mDataByteSize);
  return values;
}

// The converter and the controllers reach the audio only through this list:
// it must point at the right bytes for as long as the block is held, and
// every refusal must be a status with cleared outputs, never stale pointers.
class CMSampleBufferAudioBufferListTest : public ::testing::Test {};

TEST_F(CMSampleBufferAudioBufferListTest, ListPointsAtAlignedChannelBytesThatOutliveTheBuffer) {
  auto sbuf =
      CMSampleBufferCreateWithFloat32Channels(48000, {{1, 2, 3}, {4, 5, 6}}, CMTimeMake(7, 48000));
  EXPECT_EQ(CMSampleBufferGetNumSamples(sbuf), 3);
  EXPECT_EQ(CMSampleBufferGetPresentationTimeStamp(sbuf), CMTimeMake(7, 48000));
  AudioBufferList list;
  CMBlockBufferRef block;
  ASSERT_EQ(CMSampleBufferGetAudioBufferListWithRetainedBlockBuffer(
                sbuf, &list, kCFAllocatorDefault, kCFAllocatorDefault, 0, &block),
            noErr);
  sbuf.reset();  // the retained block alone keeps the bytes
  ASSERT_EQ(list.mNumberBuffers, 2u);
  ASSERT_EQ(list.mBuffers.size(), 2u);
  EXPECT_EQ(floatsAt(list.mBuffers[0]), (std::vector<float>{1, 2, 3}));
  EXPECT_EQ(floatsAt(list.mBuffers[1]), (std::vector<float>{4, 5, 6}));
  for (const AudioBuffer& buffer : list.mBuffers) {
    EXPECT_EQ(buffer.mNumberChannels, 1u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer.mData) % 16, 0u);
  }
}

struct RefusalCase {
  const char* name;
  CMSampleBufferRef sbuf;
  OSStatus status;
};

class CMSampleBufferRefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(CMSampleBufferRefusalTest, RefusesWithItsStatusAndClearsBothOutputs) {
  AudioBufferList list;
  list.mNumberBuffers = 1;
  list.mBuffers.push_back({1, 4, &list});
  CMBlockBufferRef block = std::make_shared<const CMBlockBuffer>(4);
  EXPECT_EQ(CMSampleBufferGetAudioBufferListWithRetainedBlockBuffer(GetParam().sbuf, &list, nullptr,
                                                                    nullptr, 0, &block),
            GetParam().status);
  EXPECT_EQ(list.mNumberBuffers, 0u);
  EXPECT_TRUE(list.mBuffers.empty());
  EXPECT_EQ(block, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, CMSampleBufferRefusalTest,
    ::testing::Values(RefusalCase{"Null", nullptr, kCMSampleBufferError_RequiredParameterMissing},
                      RefusalCase{"Invalidated",
                                  CMSampleBufferCreateInvalidated(
                                      CMSampleBufferCreateWithFloat32Channels(48000, {{1, 2}})),
                                  kCMSampleBufferError_Invalidated},
                      RefusalCase{
                          "NoFormatDescription",
                          CMSampleBufferCreateWithoutFormatDescription({{0, 0, 0, 0}}, 1, 1),
                          kCMSampleBufferError_InvalidMediaFormat},
                      RefusalCase{"VideoFrame", CMSampleBufferCreateVideoFrame(),
                                  kCMSampleBufferError_InvalidMediaTypeForOperation}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
