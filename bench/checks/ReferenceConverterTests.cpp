#include "bench/ReferenceConverter.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "audio/capture/AudioConverter.h"
#include "bench/AudioPathInputs.h"

namespace harkwell::bench {
namespace {

// The convert ratio is only meaningful if the reference computes the
// converter's samples: same averaging, same scaling, same picked frames.
class ReferenceConverterSamplesTest : public ::testing::TestWithParam<InputShape> {};

TEST_P(ReferenceConverterSamplesTest, GivesTheConvertersSamplesForTheFirstBufferOfAStream) {
  const std::unique_ptr<AudioPathInput> input = makeAudioPathInput(GetParam());
  AudioConverter converter;

  const std::vector<float> converted = converter.convert(input->buffer);

  ASSERT_FALSE(converted.empty());
  EXPECT_EQ(converted, referenceConvert(input->pcm));
}

INSTANTIATE_TEST_SUITE_P(BenchShapes, ReferenceConverterSamplesTest,
                         ::testing::Values(InputShape::float48kStereo,
                                           InputShape::int16At44k1StereoInterleaved,
                                           InputShape::float16kMono),
                         [](const auto& info) {
                           switch (info.param) {
                             case InputShape::float48kStereo:
                               return "Float48kStereo";
                             case InputShape::int16At44k1StereoInterleaved:
                               return "Int16At44k1Interleaved";
                             case InputShape::float16kMono:
                               return "Float16kMono";
                           }
                           return "Unknown";
                         });

}  // namespace
}  // namespace harkwell::bench
