#include "platform/coremedia/AVAudioPCMBuffer.h"

#include <limits>
#include <utility>

namespace {

template <typename Sample>
std::vector<Sample*> typedChannels(const std::vector<void*>& channels) {
  std::vector<Sample*> typed;
  typed.reserve(channels.size());
  for (void* channel : channels) typed.push_back(static_cast<Sample*>(channel));
  return typed;
}

}  // namespace

std::unique_ptr<AVAudioPCMBuffer> AVAudioPCMBuffer::initWithPCMFormat(
    std::shared_ptr<const AVAudioFormat> format, const AudioBufferList& bufferListNoCopy,
    std::shared_ptr<const void> owner) {
  if (!format) return nullptr;
  const AudioStreamBasicDescription& asbd = format->streamDescription();
  if (asbd.mFormatID != kAudioFormatLinearPCM) return nullptr;

  const AVAudioChannelCount channels = format->channelCount();
  const bool interleaved = format->isInterleaved();
  const std::size_t expectedBuffers = interleaved ? 1 : channels;
  const UInt32 channelsPerBuffer = interleaved ? channels : 1;
  const auto& buffers = bufferListNoCopy.mBuffers;
  if (channels == 0 || bufferListNoCopy.mNumberBuffers != buffers.size() ||
      buffers.size() != expectedBuffers) {
    return nullptr;
  }

  // Bytes per frame within one buffer. The common formats know their sample
  // size; other layouts rely on the description, which the format validated.
  const std::uint32_t sampleBytes = format->bytesPerSample();
  const std::uint64_t frameBytes = sampleBytes != 0
                                       ? static_cast<std::uint64_t>(sampleBytes) * channelsPerBuffer
                                       : asbd.mBytesPerFrame;
  if (frameBytes == 0) return nullptr;

  const UInt32 byteSize = buffers.front().mDataByteSize;
  if (byteSize % frameBytes != 0) return nullptr;
  const std::uint64_t frames = byteSize / frameBytes;
  if (frames > std::numeric_limits<AVAudioFrameCount>::max()) return nullptr;

  const std::size_t alignment = sampleBytes != 0 ? sampleBytes : 1;
  for (const AudioBuffer& buffer : buffers) {
    if (buffer.mNumberChannels != channelsPerBuffer || buffer.mDataByteSize != byteSize) {
      return nullptr;
    }
    if (byteSize != 0 && (buffer.mData == nullptr ||
                          reinterpret_cast<std::uintptr_t>(buffer.mData) % alignment != 0)) {
      return nullptr;
    }
  }

  std::vector<void*> channelStarts;
  channelStarts.reserve(channels);
  if (interleaved) {
    auto* base = static_cast<std::uint8_t*>(buffers.front().mData);
    for (AVAudioChannelCount k = 0; k < channels; ++k) {
      // An empty buffer may have no data at all; keep its channels null then.
      channelStarts.push_back(base == nullptr ? nullptr : base + std::size_t{k} * sampleBytes);
    }
  } else {
    for (const AudioBuffer& buffer : buffers) channelStarts.push_back(buffer.mData);
  }
  const std::size_t stride = interleaved ? channels : 1;
  return std::unique_ptr<AVAudioPCMBuffer>(
      new AVAudioPCMBuffer(std::move(format), std::move(channelStarts),
                           static_cast<AVAudioFrameCount>(frames), stride, std::move(owner)));
}

AVAudioPCMBuffer::AVAudioPCMBuffer(std::shared_ptr<const AVAudioFormat> format,
                                   std::vector<void*> channels, AVAudioFrameCount frameLength,
                                   std::size_t stride, std::shared_ptr<const void> owner)
    : format_(std::move(format)),
      channels_(std::move(channels)),
      frameLength_(frameLength),
      stride_(stride),
      owner_(std::move(owner)) {
  switch (format_->commonFormat()) {
    case AVAudioCommonFormat::AVAudioPCMFormatFloat32:
      floatChannels_ = typedChannels<float>(channels_);
      break;
    case AVAudioCommonFormat::AVAudioPCMFormatInt16:
      int16Channels_ = typedChannels<std::int16_t>(channels_);
      break;
    case AVAudioCommonFormat::AVAudioPCMFormatInt32:
      int32Channels_ = typedChannels<std::int32_t>(channels_);
      break;
    default:
      break;
  }
}

float* const* AVAudioPCMBuffer::floatChannelData() const {
  return floatChannels_.empty() ? nullptr : floatChannels_.data();
}

std::int16_t* const* AVAudioPCMBuffer::int16ChannelData() const {
  return int16Channels_.empty() ? nullptr : int16Channels_.data();
}

std::int32_t* const* AVAudioPCMBuffer::int32ChannelData() const {
  return int32Channels_.empty() ? nullptr : int32Channels_.data();
}
