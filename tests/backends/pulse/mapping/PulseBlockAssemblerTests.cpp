#include "backends/pulse/PulseBlockAssembler.h"

#include <gtest/gtest.h>

namespace harkwell {
namespace {

// At stake: blocks hold exactly the samples that arrived, in order and in
// step between channels, whatever the chunk boundaries (mid-frame, empty,
// across block edges): nothing lost or duplicated, each block starting where
// the previous one ended, exact blocks exactly their size, the others at least
// (a chunk of a block or more passes whole).
TEST(PulseBlockAssemblerTest, BlocksFollowEachOtherWithEverySampleOnceWhateverTheChunkSize) {
  constexpr size_t frames = 101, blockFrames = 7;
  std::vector<float> interleaved;
  for (size_t i = 0; i < frames; ++i) {
    interleaved.push_back(static_cast<float>(i));
    interleaved.push_back(-static_cast<float>(i) - 0.5f);
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(interleaved.data());
  const size_t total = interleaved.size() * sizeof(float);
  for (const size_t chunk : {1, 3, 8, 13, 64, 808}) {
    for (const bool exact : {false, true}) {
      SCOPED_TRACE(testing::Message() << "chunk " << chunk << (exact ? " exact" : ""));
      PulseBlockAssembler assembler(2, blockFrames, exact);
      std::vector<float> left, right;
      auto collect = [&](const PulseBlockAssembler::Channels& block, uint64_t firstFrame) {
        ASSERT_TRUE(block.size() == 2 && block[0].size() == block[1].size());
        EXPECT_EQ(firstFrame, left.size());
        const size_t expected = exact ? blockFrames : std::max(blockFrames, chunk / 8);
        EXPECT_TRUE(exact || chunk >= blockFrames * 8 ? block[0].size() == expected
                                                      : block[0].size() >= expected);
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
  }
}

}  // namespace
}  // namespace harkwell
