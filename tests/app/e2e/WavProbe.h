#pragma once

#include <sndfile.h>

#include <cmath>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

namespace harkwell::test {

// A WAV file as libsndfile reads it back.
struct WavContent {
  int sampleRate = 0;
  int channels = 0;
  int format = 0;
  std::vector<float> samples;  // the first channel's

  double seconds() const { return sampleRate > 0 ? double(samples.size()) / sampleRate : 0; }
};

inline std::optional<WavContent> readWav(const std::string& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) return std::nullopt;
  WavContent content{info.samplerate, info.channels, info.format, {}};
  std::vector<float> frames(static_cast<std::size_t>(info.frames * info.channels));
  const sf_count_t read = sf_readf_float(file, frames.data(), info.frames);
  sf_close(file);
  for (sf_count_t i = 0; i < read; ++i) content.samples.push_back(frames[i * info.channels]);
  return content;
}

// Power of `frequency` in the samples (Goertzel).
inline double tonePower(const std::vector<float>& samples, double sampleRate, double frequency) {
  const double coefficient = 2 * std::cos(2 * std::numbers::pi * frequency / sampleRate);
  double previous = 0;
  double beforePrevious = 0;
  for (const float sample : samples) {
    const double current = sample + coefficient * previous - beforePrevious;
    beforePrevious = previous;
    previous = current;
  }
  return previous * previous + beforePrevious * beforePrevious -
         coefficient * previous * beforePrevious;
}

// The strongest frequency between 100 and 4000 Hz, on a 10 Hz grid.
inline double dominantFrequency(const WavContent& wav) {
  double best = 0;
  double bestPower = -1;
  for (double frequency = 100; frequency <= 4000; frequency += 10) {
    const double power = tonePower(wav.samples, wav.sampleRate, frequency);
    if (power > bestPower) {
      bestPower = power;
      best = frequency;
    }
  }
  return best;
}

}  // namespace harkwell::test
