#include "platform/coremedia/CMSampleBuffer.h"

#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

namespace {

// Every slice starts on this boundary so that any sample type (and vector
// loads) can be read from it without misalignment.
constexpr std::size_t sliceAlignment = 16;

std::size_t alignUp(std::size_t value) {
  return (value + sliceAlignment - 1) / sliceAlignment * sliceAlignment;
}

UInt32 channelsPerBuffer(const AudioStreamBasicDescription& asbd) {
  return (asbd.mFormatFlags & kAudioFormatFlagIsNonInterleaved) != 0 ? 1 : asbd.mChannelsPerFrame;
}

// Copies the buffers into one block; null when a buffer is too large for an AudioBuffer.
CMSampleBufferRef makeAudioSampleBuffer(CMFormatDescriptionRef description,
                                        const std::vector<std::vector<std::uint8_t>>& buffers,
                                        UInt32 channels, CMItemCount numSamples,
                                        CMTime presentationTime) {
  std::vector<CMSampleBuffer::AudioBufferSlice> slices;
  slices.reserve(buffers.size());
  std::size_t total = 0;
  for (const auto& bytes : buffers) {
    if (bytes.size() > std::numeric_limits<UInt32>::max()) return nullptr;
    total = alignUp(total);
    slices.push_back({total, static_cast<UInt32>(bytes.size()), channels});
    total += bytes.size();
  }
  auto block = std::make_shared<CMBlockBuffer>(total);
  for (std::size_t i = 0; i < buffers.size(); ++i) {
    if (!buffers[i].empty()) {
      std::memcpy(block->data() + slices[i].offset, buffers[i].data(), buffers[i].size());
    }
  }
  return std::make_shared<const CMSampleBuffer>(true, std::move(description), std::move(block),
                                                std::move(slices), numSamples, presentationTime);
}

void clearOutputs(AudioBufferList* bufferListOut, CMBlockBufferRef* blockBufferOut) {
  if (bufferListOut) *bufferListOut = AudioBufferList{};
  if (blockBufferOut) blockBufferOut->reset();
}

}  // namespace

CMSampleBuffer::CMSampleBuffer(bool isValid, CMFormatDescriptionRef formatDescription,
                               CMBlockBufferRef dataBuffer,
                               std::vector<AudioBufferSlice> audioBuffers, CMItemCount numSamples,
                               CMTime presentationTime)
    : isValid_(isValid),
      formatDescription_(std::move(formatDescription)),
      dataBuffer_(std::move(dataBuffer)),
      audioBuffers_(std::move(audioBuffers)),
      numSamples_(numSamples),
      presentationTime_(presentationTime) {
  const std::size_t length = CMBlockBufferGetDataLength(dataBuffer_);
  for (const auto& slice : audioBuffers_) {
    if (slice.offset > length || slice.byteSize > length - slice.offset) {
      throw std::invalid_argument("audio buffer outside the block buffer");
    }
  }
}

CMSampleBufferRef CMSampleBufferCreateWithAudioBuffers(
    const AudioStreamBasicDescription& asbd, const std::vector<std::vector<std::uint8_t>>& buffers,
    CMTime presentationTime) {
  const CMItemCount frames =
      asbd.mBytesPerFrame == 0 || buffers.empty()
          ? 0
          : static_cast<CMItemCount>(buffers[0].size() / asbd.mBytesPerFrame);
  return CMSampleBufferCreateWithAudioBuffers(asbd, buffers, frames, presentationTime);
}

CMSampleBufferRef CMSampleBufferCreateWithAudioBuffers(
    const AudioStreamBasicDescription& asbd, const std::vector<std::vector<std::uint8_t>>& buffers,
    CMItemCount numSamples, CMTime presentationTime) {
  return makeAudioSampleBuffer(CMAudioFormatDescriptionCreate(asbd), buffers,
                               channelsPerBuffer(asbd), numSamples, presentationTime);
}

CMSampleBufferRef CMSampleBufferCreateWithFloat32Channels(
    Float64 sampleRate, const std::vector<std::vector<float>>& channels, CMTime presentationTime) {
  AudioStreamBasicDescription asbd;
  FillOutASBDForLPCM(asbd, sampleRate, static_cast<UInt32>(channels.size()), 32, 32, true, false,
                     true);
  std::vector<std::vector<std::uint8_t>> buffers;
  buffers.reserve(channels.size());
  for (const auto& channel : channels) {
    std::vector<std::uint8_t> bytes(channel.size() * sizeof(float));
    if (!bytes.empty()) std::memcpy(bytes.data(), channel.data(), bytes.size());
    buffers.push_back(std::move(bytes));
  }
  return CMSampleBufferCreateWithAudioBuffers(asbd, buffers, presentationTime);
}

CMSampleBufferRef CMSampleBufferCreateEmpty(const AudioStreamBasicDescription& asbd,
                                            CMTime presentationTime) {
  const bool nonInterleaved = (asbd.mFormatFlags & kAudioFormatFlagIsNonInterleaved) != 0;
  const std::size_t count = nonInterleaved ? asbd.mChannelsPerFrame : 1;
  return CMSampleBufferCreateWithAudioBuffers(asbd, std::vector<std::vector<std::uint8_t>>(count),
                                              0, presentationTime);
}

CMSampleBufferRef CMSampleBufferCreateWithoutFormatDescription(
    const std::vector<std::vector<std::uint8_t>>& buffers, UInt32 channelsPerBuffer,
    CMItemCount numSamples, CMTime presentationTime) {
  return makeAudioSampleBuffer(nullptr, buffers, channelsPerBuffer, numSamples, presentationTime);
}

CMSampleBufferRef CMSampleBufferCreateInvalidated(const CMSampleBufferRef& source) {
  if (!source) {
    return std::make_shared<const CMSampleBuffer>(false, nullptr, nullptr,
                                                  std::vector<CMSampleBuffer::AudioBufferSlice>{},
                                                  0, kCMTimeInvalid);
  }
  return std::make_shared<const CMSampleBuffer>(false, source->formatDescription(),
                                                source->dataBuffer(), source->audioBuffers(),
                                                source->numSamples(), source->presentationTime());
}

CMSampleBufferRef CMSampleBufferCreateVideoFrame(CMTime presentationTime) {
  return std::make_shared<const CMSampleBuffer>(true, CMVideoFormatDescriptionCreate(), nullptr,
                                                std::vector<CMSampleBuffer::AudioBufferSlice>{}, 1,
                                                presentationTime);
}

bool CMSampleBufferIsValid(const CMSampleBufferRef& sbuf) {
  return sbuf && sbuf->isValid();
}

CMFormatDescriptionRef CMSampleBufferGetFormatDescription(const CMSampleBufferRef& sbuf) {
  return sbuf ? sbuf->formatDescription() : nullptr;
}

CMItemCount CMSampleBufferGetNumSamples(const CMSampleBufferRef& sbuf) {
  return sbuf ? sbuf->numSamples() : 0;
}

CMTime CMSampleBufferGetPresentationTimeStamp(const CMSampleBufferRef& sbuf) {
  return sbuf ? sbuf->presentationTime() : kCMTimeInvalid;
}

CMBlockBufferRef CMSampleBufferGetDataBuffer(const CMSampleBufferRef& sbuf) {
  return sbuf ? sbuf->dataBuffer() : nullptr;
}

OSStatus CMSampleBufferGetAudioBufferListWithRetainedBlockBuffer(
    const CMSampleBufferRef& sbuf, AudioBufferList* bufferListOut,
    CFAllocatorRef /*blockBufferStructureAllocator*/, CFAllocatorRef /*blockBufferBlockAllocator*/,
    UInt32 /*flags*/, CMBlockBufferRef* blockBufferOut) {
  clearOutputs(bufferListOut, blockBufferOut);
  if (!sbuf || !bufferListOut || !blockBufferOut) {
    return kCMSampleBufferError_RequiredParameterMissing;
  }
  if (!sbuf->isValid()) return kCMSampleBufferError_Invalidated;
  const CMFormatDescriptionRef& description = sbuf->formatDescription();
  if (description && description->mediaType() != kCMMediaType_Audio) {
    return kCMSampleBufferError_InvalidMediaTypeForOperation;
  }
  if (!CMAudioFormatDescriptionGetStreamBasicDescription(description)) {
    return kCMSampleBufferError_InvalidMediaFormat;
  }
  const CMBlockBufferRef& block = sbuf->dataBuffer();
  if (!block) return kCMSampleBufferError_BufferNotReady;

  // The list hands out mutable pointers as the platform type demands; the
  // block is shared and callers only read through them.
  auto* base = const_cast<std::uint8_t*>(block->data());
  AudioBufferList list;
  list.mBuffers.reserve(sbuf->audioBuffers().size());
  for (const auto& slice : sbuf->audioBuffers()) {
    list.mBuffers.push_back({slice.numberChannels, slice.byteSize, base + slice.offset});
  }
  list.mNumberBuffers = static_cast<UInt32>(list.mBuffers.size());
  *bufferListOut = std::move(list);
  *blockBufferOut = block;
  return noErr;
}
