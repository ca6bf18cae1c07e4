#include "audio/capture/AudioConverter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <utility>

#include "platform/accelerate/vDSP.h"
#include "platform/coremedia/AVAudioFormat.h"

namespace harkwell {

namespace {

using UInt128 = unsigned __int128;

// Output blocks above this many samples come only from corrupt rates.
constexpr std::size_t maxResampleOutput = std::size_t{1} << 26;

constexpr float int16Divisor = 32767.0f;
constexpr float int32Divisor = 2147483648.0f;

bool isFinitePositive(float rate) {
  return std::isfinite(rate) && rate > 0;
}

// Written as a positive range test so that NaN fails it too.
bool isAcceptedSourceRate(double rate) {
  return rate >= AudioConverter::minSourceSampleRate && rate <= AudioConverter::maxSourceSampleRate;
}

UInt128 ceilDiv(UInt128 numerator, UInt128 denominator) {
  return (numerator + denominator - 1) / denominator;
}

// Output length ceil(n / from * to), evaluated in float32 in that order; 0
// when it is not a sane length.
std::size_t floatOutputLength(std::size_t n, float fromSampleRate, float toSampleRate) {
  const float length = std::ceil(static_cast<float>(n) / fromSampleRate * toSampleRate);
  if (!(length >= 0) || length > static_cast<float>(maxResampleOutput)) return 0;
  return static_cast<std::size_t>(length);
}

// The float32 picking loop: position steps by repeated float addition of
// from / to, and each output takes the input at or before it. Fills y[0..m)
// as far as the input reaches and returns how many values it wrote.
std::size_t pickWithFloatStep(const std::vector<float>& x, float fromSampleRate, float toSampleRate,
                              std::vector<float>& y) {
  const std::size_t n = x.size();
  const std::size_t m = y.size();
  if (n == 0 || m == 0) return 0;
  const float step = fromSampleRate / toSampleRate;
  const float inputLength = static_cast<float>(n);
  float position = 0.0f;
  std::size_t i = 0;
  do {
    const auto index = static_cast<std::size_t>(position);
    // Unreachable while position < n, but an input index is never trusted blindly.
    if (index >= n) break;
    y[i] = x[index];
    ++i;
    position = step + position;
  } while (position < inputLength && i < m);
  return i;
}

// The rate as an integer scaled by 2^shift, or 0 when it does not become one
// within 63 bits. Every double in the accepted rate range becomes one by
// 2^43 at the latest (its lowest mantissa bit is at least 2^-43).
std::uint64_t scaledToInteger(double rate, int shift) {
  const double scaled = std::ldexp(rate, shift);
  if (scaled >= 0x1p63 || scaled != std::floor(scaled)) return 0;
  return static_cast<std::uint64_t>(scaled);
}

}  // namespace

// Where convertToPcmBuffer's PCM buffer would point: one start per channel,
// the stride and the frame count, and which of the three sample types the
// starts hold.
struct AudioConverter::PcmView {
  AVAudioCommonFormat format = AVAudioCommonFormat::AVAudioOtherFormat;
  AVAudioChannelCount channels = 0;
  AVAudioFrameCount frames = 0;
  vDSP_Stride stride = 1;
  const std::uint8_t* starts[AVAudioFormat::maxChannelCount] = {};
};

std::vector<float> AudioConverter::convert(const CMSampleBufferRef& buffer) {
  std::vector<float> samples;
  convert(buffer, samples);
  return samples;
}

void AudioConverter::convert(const CMSampleBufferRef& buffer, std::vector<float>& samples) {
  samples.clear();
  // convert() runs once per delivered buffer; going through
  // convertToPcmBuffer would allocate a buffer list, a format and a PCM buffer
  // each time. viewPcm applies the same checks and yields the same channel
  // starts without any of them; the mixdown is convertToFloat32Array's, into
  // buffers kept between calls.
  PcmView view;
  if (!viewPcm(buffer, view)) return;
  const double sourceRate = cachedDescription_.mSampleRate;

  std::vector<float>& mono = sourceRate == targetSampleRate ? samples : mono_;
  mixDown(view, mono, scratch_);

  if (sourceRate == targetSampleRate) {
    // A later buffer at another rate then starts a new stream.
    streamRate_ = sourceRate;
    return;
  }
  pick(mono_, sourceRate, samples);
}

bool AudioConverter::viewPcm(const CMSampleBufferRef& buffer, PcmView& view) {
  // The checks of CMSampleBufferGetAudioBufferListWithRetainedBlockBuffer.
  if (!buffer || !buffer->isValid()) return false;
  const CMFormatDescriptionRef& description = buffer->formatDescription();
  if (description && description->mediaType() != kCMMediaType_Audio) return false;
  const AudioStreamBasicDescription* asbd =
      CMAudioFormatDescriptionGetStreamBasicDescription(description);
  if (!asbd) return false;
  const CMBlockBufferRef& block = buffer->dataBuffer();
  if (!block) return false;

  // convertToPcmBuffer's: accepted rate, a format from the description, one of
  // the three sample types.
  if (!isAcceptedSourceRate(asbd->mSampleRate)) return false;
  if (!cachedFormat_ || !(cachedDescription_ == *asbd)) {
    cachedFormat_ = AVAudioFormat::initWithStreamDescription(*asbd);
    if (!cachedFormat_) return false;
    cachedDescription_ = *asbd;
  }
  const AVAudioFormat& format = *cachedFormat_;
  switch (format.commonFormat()) {
    case AVAudioCommonFormat::AVAudioPCMFormatFloat32:
    case AVAudioCommonFormat::AVAudioPCMFormatInt16:
    case AVAudioCommonFormat::AVAudioPCMFormatInt32:
      break;
    default:
      return false;
  }

  // AVAudioPCMBuffer::initWithPCMFormat's: the buffers match the layout, hold
  // whole frames of equal length, and are aligned for the sample type.
  const AVAudioChannelCount channels = format.channelCount();
  const bool interleaved = format.isInterleaved();
  const std::size_t expectedBuffers = interleaved ? 1 : channels;
  const UInt32 channelsPerBuffer = interleaved ? channels : 1;
  const auto& slices = buffer->audioBuffers();
  if (channels == 0 || channels > AVAudioFormat::maxChannelCount ||
      slices.size() != expectedBuffers) {
    return false;
  }
  const std::uint32_t sampleBytes = format.bytesPerSample();
  const std::uint64_t frameBytes = static_cast<std::uint64_t>(sampleBytes) * channelsPerBuffer;
  if (frameBytes == 0) return false;
  const UInt32 byteSize = slices.front().byteSize;
  if (byteSize % frameBytes != 0) return false;
  const std::uint64_t frames = byteSize / frameBytes;
  if (frames > std::numeric_limits<AVAudioFrameCount>::max()) return false;
  const std::uint8_t* base = block->data();
  for (const CMSampleBuffer::AudioBufferSlice& slice : slices) {
    if (slice.numberChannels != channelsPerBuffer || slice.byteSize != byteSize) return false;
    const std::uint8_t* data = base + slice.offset;
    if (byteSize != 0 &&
        (data == nullptr || reinterpret_cast<std::uintptr_t>(data) % sampleBytes != 0)) {
      return false;
    }
  }
  // convertToPcmBuffer's last check: the bytes hold exactly the frame count.
  if (static_cast<CMItemCount>(frames) != buffer->numSamples()) return false;

  view.format = format.commonFormat();
  view.channels = channels;
  view.frames = static_cast<AVAudioFrameCount>(frames);
  view.stride = interleaved ? static_cast<vDSP_Stride>(channels) : 1;
  for (AVAudioChannelCount k = 0; k < channels; ++k) {
    if (interleaved) {
      const std::uint8_t* first = base + slices.front().offset;
      view.starts[k] = first == nullptr ? nullptr : first + std::size_t{k} * sampleBytes;
    } else {
      view.starts[k] = base + slices[k].offset;
    }
  }
  return true;
}

// Picking position across buffers. The first buffer of a stream is picked with
// the float32 stepping loop (as resample() does), keeping only the values it
// reached. Stepping a float position over hours would drift by whole frames,
// so later buffers use exact integer arithmetic relative to the stream start:
// output j takes global input frame floor(j * p / q), where p / q is
// sourceRate / targetSampleRate exactly (both doubles scaled by a power of two
// to integers, then reduced). Counts stay within 2^64 for centuries and the
// products within 128 bits, so nothing is ever rounded. The handover may skip
// or repeat no frame: output j continues at the count already produced.
void AudioConverter::pick(const std::vector<float>& samples, double sourceRate,
                          std::vector<float>& out) {
  out.clear();
  if (sourceRate != streamRate_) {
    std::uint64_t p = 0;
    std::uint64_t q = 0;
    for (int shift = 0; shift <= 62 && (p == 0 || q == 0); ++shift) {
      p = scaledToInteger(sourceRate, shift);
      q = scaledToInteger(targetSampleRate, shift);
    }
    if (p == 0 || q == 0) return;  // Outside the accepted range; convert() rules this out.
    const std::uint64_t divisor = std::gcd(p, q);
    stepNumerator_ = p / divisor;
    stepDenominator_ = q / divisor;
    streamRate_ = sourceRate;
    streamFrames_ = 0;
    streamOutputs_ = 0;
  }

  const std::size_t n = samples.size();
  if (n == 0) return;

  if (streamFrames_ == 0) {
    const float from = static_cast<float>(sourceRate);
    const float to = static_cast<float>(targetSampleRate);
    out.assign(floatOutputLength(n, from, to), 0.0f);
    // Values the loop never reaches would be silence that is not in the input.
    out.resize(pickWithFloatStep(samples, from, to, out));
    streamFrames_ = n;
    streamOutputs_ = out.size();
    return;
  }

  const UInt128 p = stepNumerator_;
  const UInt128 q = stepDenominator_;
  // Output j lies in this buffer when frames_ * q <= j * p < (frames_ + n) * q.
  const UInt128 startNumerator = static_cast<UInt128>(streamFrames_) * q;
  const UInt128 endNumerator = static_cast<UInt128>(streamFrames_ + n) * q;
  const auto firstInBuffer = static_cast<std::uint64_t>(ceilDiv(startNumerator, p));
  const auto end = static_cast<std::uint64_t>(ceilDiv(endNumerator, p));
  // When the float32 first block stopped short of its exact share, the outputs
  // that belonged to it are gone; continue at this buffer's first one.
  const std::uint64_t first = std::max(streamOutputs_, firstInBuffer);
  streamFrames_ += n;
  if (end <= first) return;
  streamOutputs_ = end;

  out.resize(end - first);
  // Walk index + remainder / q by the integer and fractional parts of p / q.
  const UInt128 offset = static_cast<UInt128>(first) * p - startNumerator;
  auto index = static_cast<std::uint64_t>(offset / q);
  auto remainder = static_cast<std::uint64_t>(offset % q);
  const auto stepWhole = static_cast<std::uint64_t>(p / q);
  const auto stepFraction = static_cast<std::uint64_t>(p % q);
  const std::uint64_t denominator = stepDenominator_;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (index >= n) {  // Cannot happen with exact bounds; never read past the input.
      out.resize(i);
      break;
    }
    out[i] = samples[index];
    index += stepWhole;
    remainder += stepFraction;
    if (remainder >= denominator) {
      remainder -= denominator;
      ++index;
    }
  }
}

std::unique_ptr<AVAudioPCMBuffer> AudioConverter::convertToPcmBuffer(
    const CMSampleBufferRef& buffer) {
  AudioBufferList bufferList;
  CMBlockBufferRef blockBuffer;
  const OSStatus status = CMSampleBufferGetAudioBufferListWithRetainedBlockBuffer(
      buffer, &bufferList, kCFAllocatorDefault, kCFAllocatorDefault, 0, &blockBuffer);
  if (status != noErr) return nullptr;

  const AudioStreamBasicDescription* asbd =
      CMAudioFormatDescriptionGetStreamBasicDescription(CMSampleBufferGetFormatDescription(buffer));
  if (!asbd || !isAcceptedSourceRate(asbd->mSampleRate)) return nullptr;

  // The samples are read in the layout the buffer says it has; reading them as
  // anything else would turn integers or interleaved frames into noise.
  std::shared_ptr<const AVAudioFormat> format = AVAudioFormat::initWithStreamDescription(*asbd);
  if (!format) return nullptr;
  switch (format->commonFormat()) {
    case AVAudioCommonFormat::AVAudioPCMFormatFloat32:
    case AVAudioCommonFormat::AVAudioPCMFormatInt16:
    case AVAudioCommonFormat::AVAudioPCMFormatInt32:
      break;
    default:
      return nullptr;
  }

  // The view keeps the retained block alive, so it stays valid even if the
  // caller drops the sample buffer first.
  std::unique_ptr<AVAudioPCMBuffer> pcm =
      AVAudioPCMBuffer::initWithPCMFormat(std::move(format), bufferList, std::move(blockBuffer));
  if (!pcm) return nullptr;
  // A frame count the bytes do not hold means a corrupt buffer; trust neither.
  if (static_cast<CMItemCount>(pcm->frameLength()) != CMSampleBufferGetNumSamples(buffer)) {
    return nullptr;
  }
  return pcm;
}

std::vector<float> AudioConverter::convertToFloat32Array(const AVAudioPCMBuffer& buffer) {
  PcmView view;
  view.format = buffer.format().commonFormat();
  view.channels = std::min(buffer.format().channelCount(), AVAudioFormat::maxChannelCount);
  view.frames = buffer.frameLength();
  view.stride = static_cast<vDSP_Stride>(buffer.stride());
  for (AVAudioChannelCount channel = 0; channel < view.channels; ++channel) {
    if (float* const* floatData = buffer.floatChannelData()) {
      view.starts[channel] = reinterpret_cast<const std::uint8_t*>(floatData[channel]);
    } else if (std::int16_t* const* int16Data = buffer.int16ChannelData()) {
      view.starts[channel] = reinterpret_cast<const std::uint8_t*>(int16Data[channel]);
    } else if (std::int32_t* const* int32Data = buffer.int32ChannelData()) {
      view.starts[channel] = reinterpret_cast<const std::uint8_t*>(int32Data[channel]);
    }
  }
  std::vector<float> mono;
  std::vector<float> scratch;
  mixDown(view, mono, scratch);
  return mono;
}

void AudioConverter::mixDown(const PcmView& view, std::vector<float>& mono,
                             std::vector<float>& scratch) {
  // Channel reads step by the view's stride (interleaved frames); the mono and
  // scratch arrays are contiguous. Integer channels are scaled in the scratch
  // array and then added, float channels added as they are.
  const AVAudioFrameCount frames = view.frames;
  mono.assign(frames, 0.0f);
  for (AVAudioChannelCount channel = 0; channel < view.channels; ++channel) {
    const std::uint8_t* start = view.starts[channel];
    if (start == nullptr) continue;
    switch (view.format) {
      case AVAudioCommonFormat::AVAudioPCMFormatFloat32:
        vDSP_vadd(mono.data(), 1, reinterpret_cast<const float*>(start), view.stride, mono.data(),
                  1, frames);
        break;
      case AVAudioCommonFormat::AVAudioPCMFormatInt16:
        scratch.resize(frames);
        vDSP_vflt16(reinterpret_cast<const std::int16_t*>(start), view.stride, scratch.data(), 1,
                    frames);
        vDSP_vsdiv(scratch.data(), 1, &int16Divisor, scratch.data(), 1, frames);
        vDSP_vadd(scratch.data(), 1, mono.data(), 1, mono.data(), 1, frames);
        break;
      case AVAudioCommonFormat::AVAudioPCMFormatInt32:
        scratch.resize(frames);
        vDSP_vflt32(reinterpret_cast<const std::int32_t*>(start), view.stride, scratch.data(), 1,
                    frames);
        vDSP_vsdiv(scratch.data(), 1, &int32Divisor, scratch.data(), 1, frames);
        vDSP_vadd(scratch.data(), 1, mono.data(), 1, mono.data(), 1, frames);
        break;
      default:
        break;
    }
  }
  // The full channel count divides, also when some channels had no data.
  if (view.channels > 0) {
    const auto divisor = static_cast<float>(view.channels);
    vDSP_vsdiv(mono.data(), 1, &divisor, mono.data(), 1, frames);
  }
}

std::vector<float> AudioConverter::resample(const std::vector<float>& from, float fromSampleRate,
                                            float toSampleRate) {
  if (!isFinitePositive(fromSampleRate) || !isFinitePositive(toSampleRate)) return {};
  std::vector<float> out(floatOutputLength(from.size(), fromSampleRate, toSampleRate), 0.0f);
  pickWithFloatStep(from, fromSampleRate, toSampleRate, out);
  return out;
}

}  // namespace harkwell
