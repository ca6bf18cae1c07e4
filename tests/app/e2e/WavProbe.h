#pragma once

#include <sndfile.h>

#include <cmath>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

namespace harkwell::test {

// A WAV file as libsndfile reads it back: its format and first channel.
struct WavContent {
  SF_INFO info{};
  std::vector<float> samples;
};

inline std::optional<WavContent> readWav(const std::string& path) {
  WavContent content;
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &content.info);
  if (file == nullptr) return std::nullopt;
  std::vector<float> frames(static_cast<std::size_t>(content.info.frames * content.info.channels));
  const sf_count_t read = sf_readf_float(file, frames.data(), content.info.frames);
  sf_close(file);
  for (sf_count_t i = 0; i < read; ++i)
    content.samples.push_back(frames[i * content.info.channels]);
  return content;
}

// The strongest frequency between 100 and 4000 Hz on a 10 Hz grid, each
// frequency's power measured with Goertzel's recurrence.
inline double dominantFrequency(const WavContent& wav) {
  double best = 0;
  double bestPower = -1;
  for (double frequency = 100; frequency <= 4000; frequency += 10) {
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * frequency / wav.info.samplerate);
    double previous = 0;
    double beforePrevious = 0;
    for (const float sample : wav.samples) {
      const double current = sample + coefficient * previous - beforePrevious;
      beforePrevious = previous;
      previous = current;
    }
    const double power = previous * previous + beforePrevious * beforePrevious -
                         coefficient * previous * beforePrevious;
    if (power > bestPower) {
      bestPower = power;
      best = frequency;
    }
  }
  return best;
}

}  // namespace harkwell::test
