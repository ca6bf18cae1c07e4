#include "platform/coremedia/CMSampleBuffer.h"

#include <gtest/gtest.h>

namespace {

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
  EXPECT_EQ(list.mBuffers.at(1).mData, static_cast<const void*>(block->data() + 16));

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
    EXPECT_EQ(list.mNumberBuffers, 0u);
    EXPECT_TRUE(list.mBuffers.empty());
    EXPECT_EQ(block, nullptr);
  }
}

}  // namespace
