#pragma once

#include <cstdint>
#include <memory>

#include "platform/coremedia/AudioStreamBasicDescription.h"

using AVAudioChannelCount = std::uint32_t;
using AVAudioFrameCount = std::uint32_t;

enum class AVAudioCommonFormat : std::uint32_t {
  AVAudioOtherFormat = 0,
  AVAudioPCMFormatFloat32 = 1,
  AVAudioPCMFormatFloat64 = 2,
  AVAudioPCMFormatInt16 = 3,
  AVAudioPCMFormatInt32 = 4,
};

// A linear-PCM audio format: sample kind, rate (Hz), channel count and
// interleaving, with its full stream description. Immutable; the factories
// return null for a rate that is not finite and positive, a channel count of 0
// or above maxChannelCount, or an inconsistent description.
// Thread affinity: any thread (shared read-only).
//
//   initStandardFormatWithSampleRate(rate, channels)   float32, one buffer per channel
//   initWithCommonFormat(format, rate, channels, interleaved)
//   initWithStreamDescription(asbd)
//   commonFormat(), channelCount(), sampleRate(), isInterleaved(), isStandard(),
//   streamDescription(), bytesPerSample()
class AVAudioFormat {
 public:
  // More channels than this is taken as a corrupt description.
  static constexpr AVAudioChannelCount maxChannelCount = 64;

  // Float32, non-interleaved. Any thread.
  static std::shared_ptr<const AVAudioFormat> initStandardFormatWithSampleRate(
      double sampleRate, AVAudioChannelCount channels);

  // One of the four common formats; null for AVAudioOtherFormat. Any thread.
  static std::shared_ptr<const AVAudioFormat> initWithCommonFormat(AVAudioCommonFormat format,
                                                                   double sampleRate,
                                                                   AVAudioChannelCount channels,
                                                                   bool interleaved);

  // From a delivered description. Linear PCM only (null otherwise); frame
  // sizes must match the sample size and channel layout, one frame per
  // packet. Layouts outside the common formats (24-bit, big-endian, padded)
  // give AVAudioOtherFormat. Any thread.
  static std::shared_ptr<const AVAudioFormat> initWithStreamDescription(
      const AudioStreamBasicDescription& asbd);

  AVAudioCommonFormat commonFormat() const { return commonFormat_; }
  AVAudioChannelCount channelCount() const { return asbd_.mChannelsPerFrame; }
  double sampleRate() const { return asbd_.mSampleRate; }
  bool isInterleaved() const {
    return (asbd_.mFormatFlags & kAudioFormatFlagIsNonInterleaved) == 0;
  }
  // Float32 and non-interleaved. Any thread.
  bool isStandard() const {
    return commonFormat_ == AVAudioCommonFormat::AVAudioPCMFormatFloat32 && !isInterleaved();
  }
  const AudioStreamBasicDescription& streamDescription() const { return asbd_; }
  // Bytes of one sample of one channel for the common formats; 0 for others.
  // Any thread.
  std::uint32_t bytesPerSample() const;

  AVAudioFormat(AVAudioCommonFormat commonFormat, const AudioStreamBasicDescription& asbd)
      : commonFormat_(commonFormat), asbd_(asbd) {}

 private:
  AVAudioCommonFormat commonFormat_;
  AudioStreamBasicDescription asbd_;
};
