#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "platform/coremedia/AudioStreamBasicDescription.h"
#include "platform/coremedia/CoreMediaTypes.h"

namespace harkwell::fuzz {

// One fuzz input for the converter, and its byte form: the stream description
// field by field (host byte order, little-endian on every target), the buffer's shape, its claimed
// frame count, how often it is converted in a row, the audio buffers as slices of one block, then
// the block's bytes. Parsing never fails: missing bytes read as zero, so every byte string is some
// input. Seeds (fuzz/corpus/) are files in this form. Thread affinity: plain value; any thread.
struct AudioConverterInput {
  // What kind of sample buffer the bytes become.
  enum class Shape : std::uint8_t {
    audio = 0,                 // the description and slices as given
    withoutFormatDescription,  // audio bytes, no description at all
    invalidated,               // the audio buffer, marked invalid
    videoFrame,                // a screen frame
    nullBuffer,                // no sample buffer
    withoutStreamDescription,  // an audio description that carries no stream description
  };
  static constexpr std::uint8_t shapeCount = 6;

  struct Slice {
    std::uint32_t offset = 0;
    std::uint32_t byteSize = 0;
    std::uint32_t numberChannels = 0;
  };

  // Caps that keep one input cheap; they still allow 1000 channels.
  static constexpr std::size_t maxSlices = 1024;
  static constexpr std::uint8_t maxRepeats = 4;

  AudioStreamBasicDescription asbd;
  Shape shape = Shape::audio;
  std::int64_t numSamples = 0;
  std::uint8_t repeats = 1;
  std::vector<Slice> slices;
  std::vector<std::uint8_t> block;

  static AudioConverterInput parse(std::span<const std::uint8_t> bytes) {
    Reader in{bytes};
    AudioConverterInput input;
    input.asbd.mSampleRate = in.scalar<double>();
    input.asbd.mFormatID = in.scalar<std::uint32_t>();
    input.asbd.mFormatFlags = in.scalar<std::uint32_t>();
    input.asbd.mBytesPerPacket = in.scalar<std::uint32_t>();
    input.asbd.mFramesPerPacket = in.scalar<std::uint32_t>();
    input.asbd.mBytesPerFrame = in.scalar<std::uint32_t>();
    input.asbd.mChannelsPerFrame = in.scalar<std::uint32_t>();
    input.asbd.mBitsPerChannel = in.scalar<std::uint32_t>();
    input.shape = static_cast<Shape>(in.scalar<std::uint8_t>() % shapeCount);
    input.numSamples = in.scalar<std::int64_t>();
    input.repeats = static_cast<std::uint8_t>(1 + in.scalar<std::uint8_t>() % maxRepeats);
    const std::size_t sliceCount = in.scalar<std::uint16_t>() % (maxSlices + 1);
    for (std::size_t i = 0; i < sliceCount && in.hasMore(); ++i) {
      Slice slice;
      slice.offset = in.scalar<std::uint32_t>();
      slice.byteSize = in.scalar<std::uint32_t>();
      slice.numberChannels = in.scalar<std::uint32_t>();
      input.slices.push_back(slice);
    }
    input.block.assign(in.rest().begin(), in.rest().end());
    return input;
  }

 private:
  struct Reader {
    std::span<const std::uint8_t> bytes;
    std::size_t position = 0;

    bool hasMore() const { return position < bytes.size(); }
    std::span<const std::uint8_t> rest() const { return bytes.subspan(position); }

    template <class T>
    T scalar() {
      std::uint8_t raw[sizeof(T)] = {};
      const std::size_t available = std::min(sizeof(T), bytes.size() - position);
      std::memcpy(raw, bytes.data() + position, available);
      position += available;
      T value;
      std::memcpy(&value, raw, sizeof(T));
      return value;
    }
  };
};

}  // namespace harkwell::fuzz
