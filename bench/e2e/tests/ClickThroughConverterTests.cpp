#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "audio/capture/AudioConverter.h"
#include "bench/e2e/ClickDetector.h"
#include "bench/e2e/ClickPlayer.h"

namespace harkwell::e2e {
namespace {

// The played click, captured as the display capture delivers it (48 kHz,
// one float buffer per channel, 1024 frames a buffer), turned into 16 kHz mono
// by the host's converter, and searched as the latency run searches it. A
// click too short or too quiet for picking 1 sample in 3 is lost at some
// start phases, so every phase is tried, and starts straddling a buffer edge.
TEST(ClickThroughConverter, IsFoundOnceAtItsPlaceWhateverThePickingPhase) {
  constexpr std::size_t bufferFrames = 1024;
  const std::vector<float> click = ClickPlayer::clickSamples();
  // After the detector's 100 ms of silence (4800 frames); 6144 is a buffer edge.
  const std::size_t starts[] = {6000, 6001, 6002, 6 * bufferFrames - 20, 6 * bufferFrames - 1};
  for (std::size_t start : starts) {
    std::vector<std::vector<float>> channels(ClickPlayer::channelCount,
                                             std::vector<float>(8 * bufferFrames, 0.0f));
    for (std::size_t frame = 0; frame < ClickPlayer::clickFrames; ++frame) {
      for (std::size_t c = 0; c < ClickPlayer::channelCount; ++c) {
        channels[c][start + frame] = click[frame * ClickPlayer::channelCount + c];
      }
    }

    AudioConverter converter;
    ClickDetector detector({});
    std::vector<std::uint64_t> onsets;
    for (std::size_t offset = 0; offset < channels[0].size(); offset += bufferFrames) {
      std::vector<std::vector<float>> piece;
      for (const auto& channel : channels) {
        piece.emplace_back(channel.begin() + static_cast<std::ptrdiff_t>(offset),
                           channel.begin() + static_cast<std::ptrdiff_t>(offset + bufferFrames));
      }
      for (float sample : converter.convert(
               CMSampleBufferCreateWithFloat32Channels(ClickPlayer::sampleRate, piece))) {
        if (auto position = detector.push(sample)) onsets.push_back(*position);
      }
    }
    ASSERT_EQ(onsets.size(), 1u) << "click starting at frame " << start;
    // Picking keeps frames 0, 3, 6, ...: the first kept frame of the click.
    EXPECT_EQ(onsets[0], (start + 2) / 3) << "click starting at frame " << start;
  }
}

}  // namespace
}  // namespace harkwell::e2e
