#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/coremedia/AudioBufferList.h"
#include "platform/coremedia/AudioStreamBasicDescription.h"
#include "platform/coremedia/CMBlockBuffer.h"
#include "platform/coremedia/CMFormatDescription.h"
#include "platform/coremedia/CMTime.h"
#include "platform/coremedia/CoreMediaTypes.h"

// One delivered stretch of media: validity, an optional format description,
// the audio bytes in one block buffer (each audio buffer a slice of it), the
// number of frames and the presentation time. Immutable after creation; build
// it with the CMSampleBufferCreate... functions below.
// Thread affinity: any thread (shared read-only as CMSampleBufferRef).
//
// Public API of this folder, in short:
//   CMSampleBufferRef = shared_ptr<const CMSampleBuffer>
//   CMSampleBufferCreateWithAudioBuffers(asbd, buffers[, numSamples], pts)
//   CMSampleBufferCreateWithFloat32Channels(rate, channels, pts)
//   CMSampleBufferCreateEmpty(asbd, pts), CMSampleBufferCreateWithoutFormatDescription(...)
//   CMSampleBufferCreateInvalidated(source), CMSampleBufferCreateVideoFrame(pts)
//   CMSampleBufferIsValid, CMSampleBufferGetFormatDescription, CMSampleBufferGetNumSamples,
//   CMSampleBufferGetPresentationTimeStamp, CMSampleBufferGetDataBuffer,
//   CMSampleBufferGetAudioBufferListWithRetainedBlockBuffer (status + list into the block)
class CMSampleBuffer {
 public:
  // Where one audio buffer sits in the block buffer.
  struct AudioBufferSlice {
    std::size_t offset = 0;
    UInt32 byteSize = 0;
    UInt32 numberChannels = 0;
  };

  // Prefer the factories. Throws std::invalid_argument when a slice does not
  // lie inside `dataBuffer`. Any thread.
  CMSampleBuffer(bool isValid, CMFormatDescriptionRef formatDescription,
                 CMBlockBufferRef dataBuffer, std::vector<AudioBufferSlice> audioBuffers,
                 CMItemCount numSamples, CMTime presentationTime);

  bool isValid() const { return isValid_; }
  const CMFormatDescriptionRef& formatDescription() const { return formatDescription_; }
  const CMBlockBufferRef& dataBuffer() const { return dataBuffer_; }
  const std::vector<AudioBufferSlice>& audioBuffers() const { return audioBuffers_; }
  CMItemCount numSamples() const { return numSamples_; }
  CMTime presentationTime() const { return presentationTime_; }

 private:
  bool isValid_;
  CMFormatDescriptionRef formatDescription_;
  CMBlockBufferRef dataBuffer_;
  std::vector<AudioBufferSlice> audioBuffers_;
  CMItemCount numSamples_;
  CMTime presentationTime_;
};

using CMSampleBufferRef = std::shared_ptr<const CMSampleBuffer>;

// Statuses of CMSampleBufferGetAudioBufferListWithRetainedBlockBuffer.
inline constexpr OSStatus kCMSampleBufferError_RequiredParameterMissing = -12731;
inline constexpr OSStatus kCMSampleBufferError_BufferNotReady = -12733;
inline constexpr OSStatus kCMSampleBufferError_InvalidMediaTypeForOperation = -12741;
inline constexpr OSStatus kCMSampleBufferError_InvalidMediaFormat = -12743;
inline constexpr OSStatus kCMSampleBufferError_Invalidated = -12744;

// An audio sample buffer described by `asbd` holding one audio buffer per
// element of `buffers` (bytes copied, each buffer aligned for any sample type).
// Each buffer carries one channel when `asbd` is non-interleaved, else
// mChannelsPerFrame channels. The frame count is the first buffer's size over
// mBytesPerFrame (0 when that is 0). The bytes are not checked against `asbd`:
// bad input can be built on purpose. Null when a buffer exceeds 4 GiB. Any thread.
CMSampleBufferRef CMSampleBufferCreateWithAudioBuffers(
    const AudioStreamBasicDescription& asbd, const std::vector<std::vector<std::uint8_t>>& buffers,
    CMTime presentationTime = kCMTimeZero);

// As above with an explicit frame count, which may disagree with the bytes. Any thread.
CMSampleBufferRef CMSampleBufferCreateWithAudioBuffers(
    const AudioStreamBasicDescription& asbd, const std::vector<std::vector<std::uint8_t>>& buffers,
    CMItemCount numSamples, CMTime presentationTime);

// Float32, one buffer per channel, at `sampleRate` Hz; frames = the first
// channel's length. The usual shape of captured audio. Any thread.
CMSampleBufferRef CMSampleBufferCreateWithFloat32Channels(
    Float64 sampleRate, const std::vector<std::vector<float>>& channels,
    CMTime presentationTime = kCMTimeZero);

// A valid audio sample buffer of 0 frames: one empty audio buffer per buffer
// that `asbd` asks for. Any thread.
CMSampleBufferRef CMSampleBufferCreateEmpty(const AudioStreamBasicDescription& asbd,
                                            CMTime presentationTime = kCMTimeZero);

// A valid sample buffer with audio bytes but no format description. Any thread.
CMSampleBufferRef CMSampleBufferCreateWithoutFormatDescription(
    const std::vector<std::vector<std::uint8_t>>& buffers, UInt32 channelsPerBuffer,
    CMItemCount numSamples, CMTime presentationTime = kCMTimeZero);

// A copy of `source` (sharing its bytes) that is not valid; with a null
// source, an invalid buffer with nothing in it. Any thread.
CMSampleBufferRef CMSampleBufferCreateInvalidated(const CMSampleBufferRef& source);

// A valid one-frame video sample buffer with no audio (a screen frame). Any thread.
CMSampleBufferRef CMSampleBufferCreateVideoFrame(CMTime presentationTime = kCMTimeZero);

// False for a null or invalidated buffer. Any thread.
bool CMSampleBufferIsValid(const CMSampleBufferRef& sbuf);

// Null when the buffer (or its description) is null. Any thread.
CMFormatDescriptionRef CMSampleBufferGetFormatDescription(const CMSampleBufferRef& sbuf);

// Frames in the buffer; 0 for null. Any thread.
CMItemCount CMSampleBufferGetNumSamples(const CMSampleBufferRef& sbuf);

// kCMTimeInvalid for null. Any thread.
CMTime CMSampleBufferGetPresentationTimeStamp(const CMSampleBufferRef& sbuf);

// The block holding the bytes; null when there is none. Any thread.
CMBlockBufferRef CMSampleBufferGetDataBuffer(const CMSampleBufferRef& sbuf);

// Fills `bufferListOut` with the buffer's audio buffers, pointing into the
// block buffer stored in `*blockBufferOut`; the pointers stay valid while that
// reference is held. The bytes are shared: read them, never write them.
// Returns noErr, or kCMSampleBufferError_RequiredParameterMissing (null
// argument), _Invalidated, _InvalidMediaFormat (no audio stream description),
// _InvalidMediaTypeForOperation (not audio) or _BufferNotReady (no bytes).
// On failure both outputs are cleared. Any thread.
OSStatus CMSampleBufferGetAudioBufferListWithRetainedBlockBuffer(
    const CMSampleBufferRef& sbuf, AudioBufferList* bufferListOut,
    CFAllocatorRef blockBufferStructureAllocator, CFAllocatorRef blockBufferBlockAllocator,
    UInt32 flags, CMBlockBufferRef* blockBufferOut);
