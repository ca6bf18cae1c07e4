#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "audio/capture/AudioConverter.h"
#include "fuzz/checks/FuzzChecks.h"
#include "platform/coremedia/CMBlockBuffer.h"
#include "platform/coremedia/CMFormatDescription.h"
#include "platform/coremedia/CMSampleBuffer.h"

namespace harkwell::fuzz {

namespace {

// The input's byte form (the seeds in fuzz/corpus/audio_converter), host byte
// order, little-endian on every target: the stream description (f64 rate, then
// format id, flags, bytes per packet, frames per packet, bytes per frame,
// channels, bits: u32 each), u8 shape, i64 claimed frame count, u8 repeats,
// u16 slice count, each slice as u32 offset, size and channels, then the
// block's bytes. Missing bytes read as zero, so every byte string is an input.
// What the bytes become: audio as described; audio without a format
// description; the audio buffer marked invalid; a screen frame; no buffer; an
// audio description that carries no stream description.
enum class Shape : std::uint8_t { audio, noFormat, invalidated, video, none, noStream };

struct Input {
  AudioStreamBasicDescription asbd;
  Shape shape = Shape::audio;
  std::int64_t frames = 0;
  int repeats = 1;
  std::vector<CMSampleBuffer::AudioBufferSlice> slices;
  FuzzInput block;
};

Input parse(FuzzInput bytes) {
  const auto read = [&bytes]<class T>(T value) {
    const std::size_t available = std::min(sizeof(value), bytes.size());
    if (available > 0) std::memcpy(&value, bytes.data(), available);
    bytes = bytes.subspan(available);
    return value;
  };
  Input input;
  auto& asbd = input.asbd;
  asbd.mSampleRate = read(0.0);
  for (UInt32* field :
       {&asbd.mFormatID, &asbd.mFormatFlags, &asbd.mBytesPerPacket, &asbd.mFramesPerPacket,
        &asbd.mBytesPerFrame, &asbd.mChannelsPerFrame, &asbd.mBitsPerChannel}) {
    *field = read(UInt32{});
  }
  input.shape = static_cast<Shape>(read(std::uint8_t{}) % 6);
  input.frames = read(std::int64_t{});
  input.repeats = 1 + read(std::uint8_t{}) % 4;
  // At most 1024 slices keep one input cheap and still allow 1000 channels.
  const std::size_t sliceCount = read(std::uint16_t{}) % 1025u;
  for (std::size_t i = 0; i < sliceCount && !bytes.empty(); ++i) {
    const auto slice = read(std::array<std::uint32_t, 3>{});
    input.slices.push_back({slice[0], slice[1], slice[2]});
  }
  input.block = bytes;
  return input;
}

// Null for the nullBuffer shape or slices outside the block (no such buffer
// can exist).
CMSampleBufferRef makeSampleBuffer(const Input& input) {
  if (input.shape == Shape::none) return nullptr;
  if (input.shape == Shape::video) return CMSampleBufferCreateVideoFrame();
  CMFormatDescriptionRef description;
  if (input.shape == Shape::noStream) {
    description = std::make_shared<const CMFormatDescription>(kCMMediaType_Audio, std::nullopt);
  } else if (input.shape != Shape::noFormat) {
    description = CMAudioFormatDescriptionCreate(input.asbd);
  }
  auto block = std::make_shared<CMBlockBuffer>(input.block.size());
  if (!input.block.empty()) std::memcpy(block->data(), input.block.data(), input.block.size());
  CMSampleBufferRef buffer;
  try {
    buffer = std::make_shared<const CMSampleBuffer>(true, std::move(description), std::move(block),
                                                    input.slices, input.frames, kCMTimeZero);
  } catch (const std::invalid_argument&) {
    return nullptr;
  }
  return input.shape == Shape::invalidated ? CMSampleBufferCreateInvalidated(buffer) : buffer;
}

FuzzVerdict checkBlock(const Input& input, const std::vector<float>& block) {
  if (block.empty()) return std::nullopt;
  const double rate = input.asbd.mSampleRate;
  if (input.shape != Shape::audio || input.frames <= 0 ||
      !(rate >= AudioConverter::minSourceSampleRate &&
        rate <= AudioConverter::maxSourceSampleRate)) {
    return "samples from what is not audio with frames at an accepted rate";
  }
  const auto frames = static_cast<std::uint64_t>(input.frames);
  if (block.size() > 16 * frames + 1 || (rate == 16000 && block.size() != frames)) {
    return std::to_string(block.size()) + " values from " + std::to_string(frames) + " frames at " +
           std::to_string(rate) + " Hz";
  }
  const bool integer = (input.asbd.mFormatFlags & kAudioFormatFlagIsFloat) == 0;
  // Integer samples scale to at most 32768 / 32767 in magnitude.
  if (integer && std::any_of(block.begin(), block.end(),
                             [](float value) { return !(std::fabs(value) <= 1.0001f); })) {
    return "an integer sample left -1..1";
  }
  return std::nullopt;
}

FuzzVerdict checkResample(const Input& input) {
  // At most 4096 input floats and 2^20 output values keep one input cheap;
  // convert() itself never upsamples more than 16 times.
  std::vector<float> samples(std::min<std::size_t>(input.block.size() / sizeof(float), 4096));
  if (!samples.empty()) std::memcpy(samples.data(), input.block.data(), samples.size() * 4);
  const auto rate = static_cast<float>(input.asbd.mSampleRate);
  for (const auto& [from, to] : {std::pair{rate, 16000.0f}, std::pair{16000.0f, rate}}) {
    const bool sane = std::isfinite(from) && from > 0 && std::isfinite(to) && to > 0;
    if (sane && static_cast<double>(samples.size()) / from * to > (1 << 20)) continue;
    const std::vector<float> out = AudioConverter::resample(samples, from, to);
    if (!sane && !out.empty()) return "resample gave values for an insane rate";
    if (!out.empty() && !samples.empty() && std::memcmp(&out[0], &samples[0], sizeof(float)) != 0) {
      return "resample's first value is not the first input";
    }
  }
  return std::nullopt;
}

}  // namespace

// Nothing may throw: an exception ends the fuzzer (and fails the replay test).
FuzzVerdict checkAudioConverterInput(FuzzInput bytes) {
  const Input input = parse(bytes);
  const CMSampleBufferRef buffer = makeSampleBuffer(input);
  AudioConverter converter;
  for (int i = 0; i < input.repeats; ++i) {
    if (auto verdict = checkBlock(input, converter.convert(buffer))) return verdict;
  }
  return checkResample(input);
}

}  // namespace harkwell::fuzz
