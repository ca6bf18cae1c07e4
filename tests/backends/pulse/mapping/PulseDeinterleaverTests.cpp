#include <gtest/gtest.h>

#include "backends/pulse/PulseDeinterleaver.h"

namespace harkwell {
namespace {

// At stake: per-channel buffers hold exactly the samples that arrived, in
// order, whatever the chunk boundaries (empty ones too); nothing is lost or
// shifted between channels when a chunk ends mid-frame.
class PulseDeinterleaverTest : public ::testing::TestWithParam<size_t> {};

TEST_P(PulseDeinterleaverTest, SplitsChannelsExactlyWhateverTheChunkSize) {
  constexpr size_t frames = 101;
  std::vector<float> interleaved(frames * 2);
  for (size_t i = 0; i < frames; ++i) {
    interleaved[2 * i] = static_cast<float>(i);
    interleaved[2 * i + 1] = -static_cast<float>(i) - 0.5f;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(interleaved.data());
  const size_t total = interleaved.size() * sizeof(float);
  const size_t chunk = GetParam();

  PulseDeinterleaver deinterleaver(2);
  std::vector<float> left, right;
  for (size_t offset = 0; offset < total; offset += chunk) {
    const auto out = deinterleaver.push(bytes + offset, std::min(chunk, total - offset));
    ASSERT_EQ(out.size(), 2u);
    ASSERT_EQ(out[0].size(), out[1].size());
    left.insert(left.end(), out[0].begin(), out[0].end());
    right.insert(right.end(), out[1].begin(), out[1].end());
    EXPECT_TRUE(deinterleaver.push(nullptr, 0)[0].empty());
  }
  ASSERT_EQ(left.size(), frames);
  for (size_t i = 0; i < frames; ++i) {
    EXPECT_EQ(left[i], static_cast<float>(i));
    EXPECT_EQ(right[i], -static_cast<float>(i) - 0.5f);
  }
}

INSTANTIATE_TEST_SUITE_P(ChunkSizes, PulseDeinterleaverTest, ::testing::Values(1, 3, 8, 13, 808));

}  // namespace
}  // namespace harkwell
