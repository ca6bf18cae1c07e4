#pragma once

#include <sndfile.h>

#include <cmath>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

namespace harkwell::test {

// A WAV file as libsndfile reads it back: its format and one channel.
struct WavContent {
  SF_INFO info{};
  std::vector<float> samples;
  std::string comment;  // the file's comment string
};

inline std::optional<WavContent> readWav(const std::string& path, int channel = 0) {
  WavContent content;
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &content.info);
  if (file == nullptr) return std::nullopt;
  const char* comment = sf_get_string(file, SF_STR_COMMENT);
  if (comment != nullptr) content.comment = comment;
  std::vector<float> frames(static_cast<std::size_t>(content.info.frames * content.info.channels));
  const sf_count_t read = sf_readf_float(file, frames.data(), content.info.frames);
  sf_close(file);
  for (sf_count_t i = 0; i < read; ++i)
    content.samples.push_back(frames[i * content.info.channels + channel]);
  return content;
}

// The power of one frequency, by Goertzel's recurrence.
inline double powerAt(const WavContent& wav, double frequency) {
  const double coefficient = 2 * std::cos(2 * std::numbers::pi * frequency / wav.info.samplerate);
  double previous = 0;
  double beforePrevious = 0;
  for (const float sample : wav.samples) {
    const double current = sample + coefficient * previous - beforePrevious;
    beforePrevious = previous;
    previous = current;
  }
  return previous * previous + beforePrevious * beforePrevious -
         coefficient * previous * beforePrevious;
}

// True when `frequency` is by far the strongest of the test tones (440, 660
// and 1000 Hz) in the file.
inline bool holdsTone(const WavContent& wav, double frequency) {
  for (const double other : {440.0, 660.0, 1000.0}) {
    if (other != frequency && powerAt(wav, frequency) < 100 * powerAt(wav, other)) return false;
  }
  return true;
}

}  // namespace harkwell::test
