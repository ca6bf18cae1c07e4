#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/coremedia/AVAudioFormat.h"
#include "platform/coremedia/AudioBufferList.h"

// A PCM view over an AudioBufferList, without copying the samples. Channel k's
// samples are channelData[k][i * stride()] for i < frameLength(): for
// non-interleaved buffers the pointer is buffer k's data and the stride 1; for
// interleaved ones the pointer is base + k and the stride the channel count.
// Creation checks the list against the format, so that no channel read up to
// frameLength() can leave its buffer.
// Thread affinity: any one thread at a time; it does not own the samples
// (unless given an owner), which must outlive it.
//
//   initWithPCMFormat(format, bufferListNoCopy[, owner]) -> unique_ptr or null
//   format(), channelCount(), frameLength(), frameCapacity(), stride(),
//   floatChannelData(), int16ChannelData(), int32ChannelData()
class AVAudioPCMBuffer {
 public:
  // Null unless: `format` is linear PCM; the list is well formed (mNumberBuffers
  // matches; one buffer per channel of one channel each when non-interleaved,
  // else one buffer with every channel); every buffer has the same byte size,
  // a whole number of frames, at most 2^32 - 1 frames, and data (when not
  // empty) aligned for its sample type. `owner`, if given, is held so the
  // bytes outlive the view. Any thread.
  static std::unique_ptr<AVAudioPCMBuffer> initWithPCMFormat(
      std::shared_ptr<const AVAudioFormat> format, const AudioBufferList& bufferListNoCopy,
      std::shared_ptr<const void> owner = nullptr);

  AVAudioPCMBuffer(const AVAudioPCMBuffer&) = delete;
  AVAudioPCMBuffer& operator=(const AVAudioPCMBuffer&) = delete;

  const AVAudioFormat& format() const { return *format_; }
  AVAudioChannelCount channelCount() const { return format_->channelCount(); }
  AVAudioFrameCount frameLength() const { return frameLength_; }
  AVAudioFrameCount frameCapacity() const { return frameLength_; }
  // Elements between one frame's sample of a channel and the next frame's.
  // Any thread.
  std::size_t stride() const { return stride_; }

  // One pointer per channel, or null when the format is not that common
  // format. Any thread.
  float* const* floatChannelData() const;
  std::int16_t* const* int16ChannelData() const;
  std::int32_t* const* int32ChannelData() const;

 private:
  AVAudioPCMBuffer(std::shared_ptr<const AVAudioFormat> format, std::vector<void*> channels,
                   AVAudioFrameCount frameLength, std::size_t stride,
                   std::shared_ptr<const void> owner);

  std::shared_ptr<const AVAudioFormat> format_;
  // Start of each channel; typed views below are the same pointers.
  std::vector<void*> channels_;
  std::vector<float*> floatChannels_;
  std::vector<std::int16_t*> int16Channels_;
  std::vector<std::int32_t*> int32Channels_;
  AVAudioFrameCount frameLength_;
  std::size_t stride_;
  std::shared_ptr<const void> owner_;
};
