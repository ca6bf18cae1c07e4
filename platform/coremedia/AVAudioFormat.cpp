#include "platform/coremedia/AVAudioFormat.h"

#include <cmath>

namespace {

bool isUsableRate(double sampleRate) {
  return std::isfinite(sampleRate) && sampleRate > 0;
}

bool isUsableChannelCount(AVAudioChannelCount channels) {
  return channels > 0 && channels <= AVAudioFormat::maxChannelCount;
}

// The common format a consistent, packed, native-endian description denotes.
AVAudioCommonFormat classify(const AudioStreamBasicDescription& asbd, UInt32 bufferChannels) {
  const bool isFloat = (asbd.mFormatFlags & kAudioFormatFlagIsFloat) != 0;
  const bool isSigned = (asbd.mFormatFlags & kAudioFormatFlagIsSignedInteger) != 0;
  const bool bigEndian = (asbd.mFormatFlags & kAudioFormatFlagIsBigEndian) != 0;
  if (bigEndian || asbd.mBitsPerChannel % 8 != 0) return AVAudioCommonFormat::AVAudioOtherFormat;
  // A frame larger than its samples means padding: not one of the common layouts.
  if (asbd.mBytesPerFrame != asbd.mBitsPerChannel / 8 * bufferChannels) {
    return AVAudioCommonFormat::AVAudioOtherFormat;
  }
  if (isFloat && asbd.mBitsPerChannel == 32) return AVAudioCommonFormat::AVAudioPCMFormatFloat32;
  if (isFloat && asbd.mBitsPerChannel == 64) return AVAudioCommonFormat::AVAudioPCMFormatFloat64;
  if (!isFloat && isSigned && asbd.mBitsPerChannel == 16) {
    return AVAudioCommonFormat::AVAudioPCMFormatInt16;
  }
  if (!isFloat && isSigned && asbd.mBitsPerChannel == 32) {
    return AVAudioCommonFormat::AVAudioPCMFormatInt32;
  }
  return AVAudioCommonFormat::AVAudioOtherFormat;
}

}  // namespace

std::shared_ptr<const AVAudioFormat> AVAudioFormat::initStandardFormatWithSampleRate(
    double sampleRate, AVAudioChannelCount channels) {
  return initWithCommonFormat(AVAudioCommonFormat::AVAudioPCMFormatFloat32, sampleRate, channels,
                              false);
}

std::shared_ptr<const AVAudioFormat> AVAudioFormat::initWithCommonFormat(
    AVAudioCommonFormat format, double sampleRate, AVAudioChannelCount channels, bool interleaved) {
  if (!isUsableRate(sampleRate) || !isUsableChannelCount(channels)) return nullptr;
  UInt32 bits = 0;
  bool isFloat = false;
  switch (format) {
    case AVAudioCommonFormat::AVAudioPCMFormatFloat32:
      bits = 32;
      isFloat = true;
      break;
    case AVAudioCommonFormat::AVAudioPCMFormatFloat64:
      bits = 64;
      isFloat = true;
      break;
    case AVAudioCommonFormat::AVAudioPCMFormatInt16:
      bits = 16;
      break;
    case AVAudioCommonFormat::AVAudioPCMFormatInt32:
      bits = 32;
      break;
    default:
      return nullptr;
  }
  AudioStreamBasicDescription asbd;
  FillOutASBDForLPCM(asbd, sampleRate, channels, bits, bits, isFloat, false, !interleaved);
  return std::make_shared<const AVAudioFormat>(format, asbd);
}

std::shared_ptr<const AVAudioFormat> AVAudioFormat::initWithStreamDescription(
    const AudioStreamBasicDescription& asbd) {
  if (asbd.mFormatID != kAudioFormatLinearPCM) return nullptr;
  if (!isUsableRate(asbd.mSampleRate) || !isUsableChannelCount(asbd.mChannelsPerFrame)) {
    return nullptr;
  }
  const bool interleaved = (asbd.mFormatFlags & kAudioFormatFlagIsNonInterleaved) == 0;
  const UInt32 bufferChannels = interleaved ? asbd.mChannelsPerFrame : 1;
  // Frame and packet sizes must agree with each other and hold every sample,
  // else the byte counts of delivered buffers cannot be trusted.
  if (asbd.mBitsPerChannel == 0 || asbd.mFramesPerPacket != 1 ||
      asbd.mBytesPerPacket != asbd.mBytesPerFrame || asbd.mBytesPerFrame % bufferChannels != 0 ||
      static_cast<std::uint64_t>(asbd.mBytesPerFrame / bufferChannels) * 8 < asbd.mBitsPerChannel) {
    return nullptr;
  }
  return std::make_shared<const AVAudioFormat>(classify(asbd, bufferChannels), asbd);
}

std::uint32_t AVAudioFormat::bytesPerSample() const {
  switch (commonFormat_) {
    case AVAudioCommonFormat::AVAudioPCMFormatFloat32:
    case AVAudioCommonFormat::AVAudioPCMFormatInt32:
      return 4;
    case AVAudioCommonFormat::AVAudioPCMFormatFloat64:
      return 8;
    case AVAudioCommonFormat::AVAudioPCMFormatInt16:
      return 2;
    default:
      return 0;
  }
}
