#include "backends/pulse/PulseBlockAssembler.h"

#include <gtest/gtest.h>

#include <tuple>

namespace harkwell {
namespace {

// At stake: blocks hold exactly the samples that arrived, in order and in
// step between channels, whatever the chunk boundaries (mid-frame, empty,
// across block edges): nothing lost or duplicated, each block starting where
// the previous one ended, exact blocks exactly their size, the others at least.
class PulseBlockAssemblerTest : public ::testing::TestWithParam<std::tuple<size_t, bool>> {};

TEST_P(PulseBlockAssemblerTest, BlocksFollowEachOtherWithEverySampleOnceWhateverTheChunkSize) {
  // Plain copies: clang 14 cannot capture structured bindings in a lambda.
  const auto chunk = std::get<0>(GetParam());
  const auto exact = std::get<1>(GetParam());
  constexpr size_t frames = 101;
  constexpr size_t blockFrames = 7;
  std::vector<float> interleaved(frames * 2);
  for (size_t i = 0; i < frames; ++i) {
    interleaved[2 * i] = static_cast<float>(i);
    interleaved[2 * i + 1] = -static_cast<float>(i) - 0.5f;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(interleaved.data());
  const size_t total = interleaved.size() * sizeof(float);

  PulseBlockAssembler assembler(2, blockFrames, exact);
  std::vector<float> left, right;
  auto collect = [&](const PulseBlockAssembler::Channels& block, uint64_t firstFrame) {
    ASSERT_EQ(block.size(), 2u);
    ASSERT_EQ(block[0].size(), block[1].size());
    EXPECT_EQ(firstFrame, left.size());
    if (exact) {
      EXPECT_EQ(block[0].size(), blockFrames);
    } else {
      EXPECT_GE(block[0].size(), blockFrames);
      // A chunk of a block or more passes whole.
      if (chunk >= blockFrames * 8) {
        EXPECT_EQ(block[0].size(), chunk / 8);
      }
    }
    left.insert(left.end(), block[0].begin(), block[0].end());
    right.insert(right.end(), block[1].begin(), block[1].end());
  };
  for (size_t offset = 0; offset < total; offset += chunk) {
    assembler.push(bytes + offset, std::min(chunk, total - offset), collect);
    assembler.push(bytes, 0, collect);
  }
  ASSERT_EQ(left.size() + assembler.pendingFrames(), frames);
  EXPECT_LT(assembler.pendingFrames(), blockFrames);
  for (size_t i = 0; i < left.size(); ++i) {
    EXPECT_EQ(left[i], static_cast<float>(i));
    EXPECT_EQ(right[i], -static_cast<float>(i) - 0.5f);
  }
}

INSTANTIATE_TEST_SUITE_P(ChunkSizes, PulseBlockAssemblerTest,
                         ::testing::Combine(::testing::Values(1, 3, 8, 13, 64, 808),
                                            ::testing::Bool()));

}  // namespace
}  // namespace harkwell
