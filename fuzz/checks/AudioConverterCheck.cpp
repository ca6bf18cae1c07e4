#include "fuzz/checks/AudioConverterCheck.h"

#include <cmath>
#include <cstring>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "audio/capture/AudioConverter.h"
#include "fuzz/checks/AudioConverterInput.h"
#include "platform/coremedia/CMBlockBuffer.h"
#include "platform/coremedia/CMFormatDescription.h"
#include "platform/coremedia/CMSampleBuffer.h"

namespace harkwell::fuzz {

namespace {

// Input floats fed to resample, and the output length above which a ratio is
// not tried, so that one input stays cheap. (Such ratios come only from direct
// calls: convert() never passes a rate below 1000 Hz, so it never upsamples
// more than 16 times.)
constexpr std::size_t maxResampleInput = 4096;
constexpr double maxResampleOutput = 1 << 20;
// Integer samples scale to at most 32768 / 32767 in magnitude.
constexpr float integerSampleBound = 1.0001f;

// The sample buffer the input describes; null for the nullBuffer shape or
// slices that do not fit the block (the buffer cannot be built at all).
CMSampleBufferRef makeSampleBuffer(const AudioConverterInput& input) {
  using Shape = AudioConverterInput::Shape;
  if (input.shape == Shape::nullBuffer) return nullptr;
  if (input.shape == Shape::videoFrame) return CMSampleBufferCreateVideoFrame();

  CMFormatDescriptionRef description;
  if (input.shape == Shape::withoutStreamDescription) {
    description = std::make_shared<const CMFormatDescription>(kCMMediaType_Audio, std::nullopt);
  } else if (input.shape != Shape::withoutFormatDescription) {
    description = CMAudioFormatDescriptionCreate(input.asbd);
  }
  auto block = std::make_shared<CMBlockBuffer>(input.block.size());
  if (!input.block.empty()) std::memcpy(block->data(), input.block.data(), input.block.size());
  std::vector<CMSampleBuffer::AudioBufferSlice> slices;
  for (const auto& slice : input.slices) {
    slices.push_back({slice.offset, slice.byteSize, slice.numberChannels});
  }
  CMSampleBufferRef buffer;
  try {
    buffer =
        std::make_shared<const CMSampleBuffer>(true, std::move(description), std::move(block),
                                               std::move(slices), input.numSamples, kCMTimeZero);
  } catch (const std::invalid_argument&) {
    return nullptr;  // Slices outside the block: no such buffer can exist.
  }
  if (input.shape == Shape::invalidated) return CMSampleBufferCreateInvalidated(buffer);
  return buffer;
}

bool acceptedRate(double rate) {
  return rate >= AudioConverter::minSourceSampleRate && rate <= AudioConverter::maxSourceSampleRate;
}

FuzzVerdict checkBlock(const AudioConverterInput& input, const std::vector<float>& block) {
  if (block.empty()) return std::nullopt;
  if (input.shape != AudioConverterInput::Shape::audio) {
    return "a buffer that is not valid described audio gave samples";
  }
  if (!acceptedRate(input.asbd.mSampleRate)) {
    return "a buffer at a rejected rate gave samples";
  }
  if (input.numSamples <= 0) return "a buffer claiming no frames gave samples";
  const auto frames = static_cast<std::uint64_t>(input.numSamples);
  if (block.size() > 16 * frames + 1) {
    return "a block of " + std::to_string(block.size()) + " values from " + std::to_string(frames) +
           " frames";
  }
  if (input.asbd.mSampleRate == 16000 && block.size() != frames) {
    return "a 16000 Hz buffer of " + std::to_string(frames) + " frames gave " +
           std::to_string(block.size()) + " values";
  }
  if ((input.asbd.mFormatFlags & kAudioFormatFlagIsFloat) == 0) {
    for (float value : block) {
      if (!(std::fabs(value) <= integerSampleBound)) {
        return "an integer sample became " + std::to_string(value);
      }
    }
  }
  return std::nullopt;
}

FuzzVerdict checkResample(const AudioConverterInput& input) {
  std::vector<float> samples(std::min(input.block.size() / sizeof(float), maxResampleInput));
  if (!samples.empty()) std::memcpy(samples.data(), input.block.data(), samples.size() * 4);
  const auto rate = static_cast<float>(input.asbd.mSampleRate);
  for (const auto& [from, to] : {std::pair{rate, 16000.0f}, std::pair{16000.0f, rate}}) {
    const bool saneRates = std::isfinite(from) && from > 0 && std::isfinite(to) && to > 0;
    if (saneRates && static_cast<double>(samples.size()) / from * to > maxResampleOutput) continue;
    const std::vector<float> out = AudioConverter::resample(samples, from, to);
    if (!saneRates && !out.empty()) return "resample gave values for an insane rate";
    if (!out.empty() && !samples.empty() && std::memcmp(&out[0], &samples[0], sizeof(float)) != 0) {
      return "resample's first value is not the first input";
    }
  }
  return std::nullopt;
}

}  // namespace

FuzzVerdict checkAudioConverterInput(std::span<const std::uint8_t> bytes) {
  const AudioConverterInput input = AudioConverterInput::parse(bytes);
  try {
    const CMSampleBufferRef buffer = makeSampleBuffer(input);
    AudioConverter converter;
    for (std::uint8_t i = 0; i < input.repeats; ++i) {
      if (auto verdict = checkBlock(input, converter.convert(buffer))) return verdict;
    }
    return checkResample(input);
  } catch (const std::exception& error) {
    return std::string("conversion threw: ") + error.what();
  } catch (...) {
    return "conversion threw a non-standard exception";
  }
}

}  // namespace harkwell::fuzz
