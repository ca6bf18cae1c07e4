#include "platform/coremedia/CMSampleBuffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

std::vector<float> floatsAt(const AudioBuffer& buffer) {
  std::vector<float> values(buffer.mDataByteSize / sizeof(float));
  std::memcpy(values.data(), buffer.mData, buffer.mDataByteSize);
  return values;
}

// The converter and the controllers reach the audio only through this list:
// it must point at the right, aligned bytes for as long as the block is held.
TEST(CMSampleBufferTest, ListPointsAtAlignedChannelBytesThatOutliveTheBuffer) {
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

// Every refusal must be its own status with both outputs cleared, never stale
// pointers (the converter only sees that the call failed).
TEST(CMSampleBufferTest, RefusesWithItsStatusAndClearsBothOutputs) {
  const struct {
    CMSampleBufferRef sbuf;
    OSStatus status;
  } cases[] = {
      {nullptr, kCMSampleBufferError_RequiredParameterMissing},
      {CMSampleBufferCreateInvalidated(CMSampleBufferCreateWithFloat32Channels(48000, {{1, 2}})),
       kCMSampleBufferError_Invalidated},
      {CMSampleBufferCreateWithoutFormatDescription({{0, 0, 0, 0}}, 1, 1),
       kCMSampleBufferError_InvalidMediaFormat},
      {CMSampleBufferCreateVideoFrame(), kCMSampleBufferError_InvalidMediaTypeForOperation},
  };
  for (const auto& c : cases) {
    AudioBufferList list;
    list.mNumberBuffers = 1;
    list.mBuffers.push_back({1, 4, &list});
    CMBlockBufferRef block = std::make_shared<const CMBlockBuffer>(4);
    EXPECT_EQ(CMSampleBufferGetAudioBufferListWithRetainedBlockBuffer(c.sbuf, &list, nullptr,
                                                                      nullptr, 0, &block),
              c.status);
    EXPECT_EQ(list.mNumberBuffers, 0u);
    EXPECT_TRUE(list.mBuffers.empty());
    EXPECT_EQ(block, nullptr);
  }
}

}  // namespace
