#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/coremedia/CMSampleBuffer.h"

namespace harkwell::testing {

// Decodes an audio sample buffer into one vector of samples (full scale = 1.0)
// per channel, whatever its sample type and layout. Empty when the buffer has
// no readable audio.
inline std::vector<std::vector<double>> decodeChannels(const CMSampleBufferRef& buffer) {
  const auto* asbd =
      CMAudioFormatDescriptionGetStreamBasicDescription(CMSampleBufferGetFormatDescription(buffer));
  AudioBufferList list;
  CMBlockBufferRef block;
  if (!asbd || CMSampleBufferGetAudioBufferListWithRetainedBlockBuffer(
                   buffer, &list, kCFAllocatorDefault, kCFAllocatorDefault, 0, &block) != noErr) {
    return {};
  }
  const bool isFloat = (asbd->mFormatFlags & kAudioFormatFlagIsFloat) != 0;
  const std::size_t sampleSize = asbd->mBitsPerChannel / 8;
  const std::size_t channels = asbd->mChannelsPerFrame;
  std::vector<std::vector<double>> result(channels);
  auto read = [&](const std::uint8_t* at) -> double {
    if (isFloat) {
      float value;
      std::memcpy(&value, at, sizeof value);
      return value;
    }
    if (sampleSize == 2) {
      std::int16_t value;
      std::memcpy(&value, at, sizeof value);
      return value / 32768.0;
    }
    std::int32_t value;
    std::memcpy(&value, at, sizeof value);
    return value / 2147483648.0;
  };
  for (std::size_t b = 0; b < list.mBuffers.size(); ++b) {
    const auto& audioBuffer = list.mBuffers[b];
    const auto* bytes = static_cast<const std::uint8_t*>(audioBuffer.mData);
    const std::size_t perFrame = audioBuffer.mNumberChannels;
    if (perFrame == 0 || sampleSize == 0) continue;
    const std::size_t frames = audioBuffer.mDataByteSize / (sampleSize * perFrame);
    for (std::size_t f = 0; f < frames; ++f) {
      for (std::size_t c = 0; c < perFrame; ++c) {
        const std::size_t channel = perFrame == channels ? c : b;
        if (channel < channels)
          result[channel].push_back(read(bytes + (f * perFrame + c) * sampleSize));
      }
    }
  }
  return result;
}

}  // namespace harkwell::testing
