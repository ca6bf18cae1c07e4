#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

// The yardstick for AudioConverter: the converter's algorithm written the
// straightforward way, one scalar loop per step over a fresh array: average
// the channels (int16 / 32767, int32 / 2^31, then / channel count), then pick
// every step-th sample with a float32 position. Built with the project's
// default flags it shows what the plain code costs; the tests check that it
// yields the converter's samples, so that the comparison is like for like.
// Thread affinity: pure functions, any thread.
namespace harkwell::bench {

// Where the samples of one delivered buffer sit. Exactly one of the three
// channel arrays is set; channel k's frame i is at channels[k][i * stride].
struct ReferencePcm {
  const float* const* floatChannels = nullptr;
  const std::int16_t* const* int16Channels = nullptr;
  const std::int32_t* const* int32Channels = nullptr;
  std::size_t channelCount = 0;
  std::size_t frames = 0;
  std::size_t stride = 1;
  double sampleRate = 0;
};

inline std::vector<float> referenceMixDown(const ReferencePcm& pcm) {
  std::vector<float> mono(pcm.frames, 0.0f);
  for (std::size_t ch = 0; ch < pcm.channelCount; ++ch) {
    for (std::size_t i = 0; i < pcm.frames; ++i) {
      const std::size_t at = i * pcm.stride;
      if (pcm.floatChannels != nullptr) {
        mono[i] += pcm.floatChannels[ch][at];
      } else if (pcm.int16Channels != nullptr) {
        mono[i] += static_cast<float>(pcm.int16Channels[ch][at]) / 32767.0f;
      } else if (pcm.int32Channels != nullptr) {
        mono[i] += static_cast<float>(pcm.int32Channels[ch][at]) / 2147483648.0f;
      }
    }
  }
  const auto divisor = static_cast<float>(pcm.channelCount);
  for (float& value : mono) value /= divisor;
  return mono;
}

inline std::vector<float> referencePick(const std::vector<float>& x, float from, float to) {
  const auto m = static_cast<std::size_t>(std::ceil(static_cast<float>(x.size()) / from * to));
  std::vector<float> y(m, 0.0f);
  if (x.empty()) return y;
  const float step = from / to;
  float position = 0.0f;
  std::size_t i = 0;
  do {
    y[i++] = x[static_cast<std::size_t>(position)];
    position = step + position;
  } while (position < static_cast<float>(x.size()) && i < m);
  return y;
}

// One buffer to mono float32 at `targetRate` Hz. Any thread.
inline std::vector<float> referenceConvert(const ReferencePcm& pcm, double targetRate = 16000) {
  std::vector<float> mono = referenceMixDown(pcm);
  if (pcm.sampleRate == targetRate) return mono;
  return referencePick(mono, static_cast<float>(pcm.sampleRate), static_cast<float>(targetRate));
}

}  // namespace harkwell::bench
