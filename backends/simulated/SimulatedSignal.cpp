#include "backends/simulated/SimulatedSignal.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

namespace harkwell {
namespace {

template <typename Sample>
void store(std::vector<std::uint8_t>& bytes, std::size_t index, Sample value) {
  std::memcpy(bytes.data() + index * sizeof(Sample), &value, sizeof(Sample));
}

std::uint32_t bytesPerSample(SimulatedSampleFormat format) {
  return format == SimulatedSampleFormat::int16 ? 2 : 4;
}

}  // namespace

AudioStreamBasicDescription SimulatedSignal::streamDescription() const {
  AudioStreamBasicDescription asbd;
  const auto bits = bytesPerSample(format) * 8;
  FillOutASBDForLPCM(asbd, sampleRate, static_cast<UInt32>(channels), bits, bits,
                     format == SimulatedSampleFormat::float32, false, !interleaved);
  return asbd;
}

SineSource::SineSource(SimulatedSignal signal) : signal_(signal) {}

CMSampleBufferRef SineSource::next() {
  const auto frames = static_cast<std::size_t>(std::max(signal_.framesPerBuffer, 0));
  const auto channels = static_cast<std::size_t>(std::max(signal_.channels, 1));
  const auto sampleSize = bytesPerSample(signal_.format);
  const std::size_t buffers = signal_.interleaved ? 1 : channels;
  const std::size_t samplesPerBuffer = signal_.interleaved ? frames * channels : frames;
  std::vector<std::vector<std::uint8_t>> data(
      buffers, std::vector<std::uint8_t>(samplesPerBuffer * sampleSize));

  const double step = signal_.frequency / signal_.sampleRate;
  for (std::size_t frame = 0; frame < frames; ++frame) {
    const double value = signal_.amplitude * std::sin(2 * std::numbers::pi * phase_);
    // The accumulator stays in [0, 1) so that hours of tone keep full precision.
    phase_ += step;
    phase_ -= std::floor(phase_);
    for (std::size_t channel = 0; channel < channels; ++channel) {
      auto& bytes = data[signal_.interleaved ? 0 : channel];
      const std::size_t index = signal_.interleaved ? frame * channels + channel : frame;
      switch (signal_.format) {
        case SimulatedSampleFormat::float32:
          store(bytes, index, static_cast<float>(value));
          break;
        case SimulatedSampleFormat::int16:
          store(bytes, index, static_cast<std::int16_t>(std::lround(value * 32767.0)));
          break;
        case SimulatedSampleFormat::int32:
          store(bytes, index, static_cast<std::int32_t>(std::llround(value * 2147483647.0)));
          break;
      }
    }
  }
  const auto timescale = static_cast<CMTimeScale>(std::lround(signal_.sampleRate));
  auto buffer = CMSampleBufferCreateWithAudioBuffers(
      signal_.streamDescription(), data, static_cast<CMItemCount>(frames),
      CMTimeMake(framesProduced_, timescale > 0 ? timescale : 1));
  framesProduced_ += static_cast<std::int64_t>(frames);
  return buffer;
}

}  // namespace harkwell
