#include "bench/IdealEventEncoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "bench/AudioPathInputs.h"
#include "bridge/BridgeFlutterApiCodec.h"

namespace harkwell::bench {
namespace {

std::vector<std::uint8_t> encodeWithCodec(const NativeAudioEvent& event) {
  return BridgeFlutterApiCodec::shared().encode(
      CodecValue(CodecList{CodecValue(CodecCustomValue::make(event))}));
}

NativeAudioEvent eventWith(std::string id, std::vector<std::optional<double>> samples) {
  return NativeAudioEvent{std::move(id), AudioDeviceType::output,
                          NativeAudioEventType::deviceAudioData, std::move(samples), std::nullopt};
}

struct EventShape {
  std::string id;
  std::size_t samples;
};

// The encode ratio is only meaningful if the yardstick writes exactly the
// codec's bytes: every size form, every padding, for any id.
class IdealEventEncoderBytesTest : public ::testing::TestWithParam<EventShape> {};

TEST_P(IdealEventEncoderBytesTest, WritesTheCodecsBytesForTheSameEvent) {
  NativeAudioEvent event = makeBenchAudioEvent(GetParam().samples);
  event.id = GetParam().id;
  const auto samples = std::span<const std::optional<double>>(*event.audioData);

  EXPECT_EQ(encodeAudioEventIdeal(event.id, event.type, samples), encodeWithCodec(event));
}

TEST_P(IdealEventEncoderBytesTest, WritesTheSameBytesFromFloatSamples) {
  NativeAudioEvent event = makeBenchAudioEvent(GetParam().samples);
  event.id = GetParam().id;
  std::vector<float> floats;
  for (const auto& sample : *event.audioData) floats.push_back(static_cast<float>(*sample));
  // The bench signal is float-valued, so widening the floats gives the event back.
  EXPECT_EQ(encodeAudioEventIdeal(event.id, event.type, std::span<const float>(floats)),
            encodeWithCodec(event));
}

INSTANTIATE_TEST_SUITE_P(SizeFormsAndIds, IdealEventEncoderBytesTest,
                         ::testing::Values(EventShape{"1", 0}, EventShape{"1", 1},
                                           EventShape{"1", 160}, EventShape{"1", 253},
                                           EventShape{"1", 254}, EventShape{"1", 342},
                                           EventShape{"1", 1024}, EventShape{"1", 65535},
                                           EventShape{"1", 65536}, EventShape{"", 3},
                                           EventShape{"display-4242", 342},
                                           EventShape{std::string(300, 'x'), 2}));

// Values whose bits a careless loop could change: they must pass unchanged.
class IdealEventEncoderValuesTest : public ::testing::Test {};

TEST_F(IdealEventEncoderValuesTest, KeepsSpecialDoublesBitForBit) {
  const NativeAudioEvent event = eventWith(
      "7", {-0.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
            -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::denorm_min(),
            1.0, -1.0000305});
  const auto samples = std::span<const std::optional<double>>(*event.audioData);

  EXPECT_EQ(encodeAudioEventIdeal(event.id, event.type, samples), encodeWithCodec(event));
}

}  // namespace
}  // namespace harkwell::bench
