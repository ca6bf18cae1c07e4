#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bench/ReferenceConverter.h"
#include "bridge/NativeAudioEvent.h"
#include "platform/coremedia/AudioStreamBasicDescription.h"
#include "platform/coremedia/CMSampleBuffer.h"

// The delivered buffers the audio-path benchmarks run on, one per input shape,
// filled with a fixed pseudo-random signal, and the events they turn into.
// Thread affinity: built once, then read from any thread.
namespace harkwell::bench {

enum class InputShape {
  float48kStereo,                // 1024 frames, 48000 Hz, stereo float32, one buffer per channel
  int16At44k1StereoInterleaved,  // 512 frames, 44100 Hz, stereo int16, interleaved
  float16kMono,                  // 160 frames, 16000 Hz, mono float32
};

inline const char* inputShapeName(InputShape shape) {
  switch (shape) {
    case InputShape::float48kStereo:
      return "1024f_48000Hz_stereo_f32";
    case InputShape::int16At44k1StereoInterleaved:
      return "512f_44100Hz_stereo_i16_interleaved";
    case InputShape::float16kMono:
      return "160f_16000Hz_mono_f32";
  }
  return "?";
}

// A sample buffer and the reference's view of the same bytes. The view points
// into the buffer's block, which this object keeps alive; not copyable.
struct AudioPathInput {
  AudioPathInput() = default;
  AudioPathInput(const AudioPathInput&) = delete;
  AudioPathInput& operator=(const AudioPathInput&) = delete;

  CMSampleBufferRef buffer;
  ReferencePcm pcm;
  std::size_t frames = 0;
  // What `pcm` points at.
  std::vector<const float*> floatChannels;
  std::vector<const std::int16_t*> int16Channels;
  CMBlockBufferRef block;
};

// Uniform in [-1, 1), the same sequence on every run.
class TestSignal {
 public:
  float next() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<float>(static_cast<std::int32_t>(state_ >> 32)) / 2147483648.0f;
  }

 private:
  std::uint64_t state_ = 0x9e3779b97f4a7c15ULL;
};

inline std::unique_ptr<AudioPathInput> makeAudioPathInput(InputShape shape) {
  auto input = std::make_unique<AudioPathInput>();
  TestSignal signal;
  if (shape == InputShape::int16At44k1StereoInterleaved) {
    constexpr std::size_t frames = 512;
    std::vector<std::uint8_t> bytes(frames * 2 * sizeof(std::int16_t));
    for (std::size_t i = 0; i < frames * 2; ++i) {
      const auto sample = static_cast<std::int16_t>(signal.next() * 32767.0f);
      std::memcpy(bytes.data() + i * sizeof sample, &sample, sizeof sample);
    }
    AudioStreamBasicDescription asbd;
    FillOutASBDForLPCM(asbd, 44100, 2, 16, 16, false, false, false);
    input->buffer = CMSampleBufferCreateWithAudioBuffers(asbd, {bytes});
    input->frames = frames;
  } else {
    const std::size_t frames = shape == InputShape::float48kStereo ? 1024 : 160;
    const std::size_t channels = shape == InputShape::float48kStereo ? 2 : 1;
    std::vector<std::vector<float>> samples(channels, std::vector<float>(frames));
    for (std::size_t i = 0; i < frames; ++i) {
      for (auto& channel : samples) channel[i] = signal.next();
    }
    input->buffer = CMSampleBufferCreateWithFloat32Channels(
        shape == InputShape::float48kStereo ? 48000 : 16000, samples);
    input->frames = frames;
  }

  // The reference reads the very bytes the converter reads.
  AudioBufferList list;
  CMSampleBufferGetAudioBufferListWithRetainedBlockBuffer(input->buffer, &list, kCFAllocatorDefault,
                                                          kCFAllocatorDefault, 0, &input->block);
  const auto* asbd = CMAudioFormatDescriptionGetStreamBasicDescription(
      CMSampleBufferGetFormatDescription(input->buffer));
  ReferencePcm& pcm = input->pcm;
  pcm.channelCount = asbd->mChannelsPerFrame;
  pcm.frames = input->frames;
  pcm.sampleRate = asbd->mSampleRate;
  if (shape == InputShape::int16At44k1StereoInterleaved) {
    const auto* base = static_cast<const std::int16_t*>(list.mBuffers.front().mData);
    for (std::size_t ch = 0; ch < pcm.channelCount; ++ch) input->int16Channels.push_back(base + ch);
    pcm.int16Channels = input->int16Channels.data();
    pcm.stride = pcm.channelCount;
  } else {
    for (const AudioBuffer& buffer : list.mBuffers) {
      input->floatChannels.push_back(static_cast<const float*>(buffer.mData));
    }
    pcm.floatChannels = input->floatChannels.data();
    pcm.stride = 1;
  }
  return input;
}

// A deviceAudioData event for display "1" carrying `count` samples of the test signal.
inline NativeAudioEvent makeBenchAudioEvent(std::size_t count) {
  TestSignal signal;
  std::vector<std::optional<double>> samples;
  samples.reserve(count);
  for (std::size_t i = 0; i < count; ++i) samples.emplace_back(signal.next());
  return NativeAudioEvent{"1", AudioDeviceType::output, NativeAudioEventType::deviceAudioData,
                          std::move(samples), std::nullopt};
}

}  // namespace harkwell::bench
