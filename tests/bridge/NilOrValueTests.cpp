#include "bridge/NilOrValue.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "bridge/AudioDevice.h"
#include "bridge/AudioDeviceType.h"
#include "bridge/NativeAudioEventType.h"

namespace harkwell {
namespace {

// What is at stake: an absent value and a wire null both mean "nothing", while
// a value of the wrong kind is a protocol violation, not a silent nothing.
class NilOrValueTest : public ::testing::Test {};

TEST_F(NilOrValueTest, FoldsAbsentAndNullIntoNothing) {
  EXPECT_EQ(nilOrValue<std::string>(std::optional<CodecValue>()), std::nullopt);
  EXPECT_EQ(nilOrValue<std::string>(CodecValue()), std::nullopt);
}

TEST_F(NilOrValueTest, ReadsAnIntegerOfEitherWidth) {
  EXPECT_EQ(nilOrValue<std::int64_t>(CodecValue(std::int32_t{-3})), -3);
  EXPECT_EQ(nilOrValue<std::int64_t>(CodecValue(std::int64_t{1} << 40)), std::int64_t{1} << 40);
}

TEST_F(NilOrValueTest, ReadsARecordFromItsCustomValue) {
  const AudioDevice device{"n", AudioDeviceType::output, "i", true};
  EXPECT_EQ(nilOrValue<AudioDevice>(CodecValue(CodecCustomValue::make(device))), device);
}

TEST_F(NilOrValueTest, RejectsAValueOfTheWrongKind) {
  EXPECT_THROW(nilOrValue<std::string>(CodecValue(true)), std::invalid_argument);
  EXPECT_THROW(nilOrValue<AudioDevice>(CodecValue("device")), std::invalid_argument);
}

// What is at stake: raw values outside an enumeration's table must not become
// a case.
class RawValueTest : public ::testing::Test {};

TEST_F(RawValueTest, OnlyTheTablesRawValuesMakeACase) {
  EXPECT_EQ(fromRawValue<AudioDeviceType>(1), AudioDeviceType::output);
  EXPECT_EQ(fromRawValue<AudioDeviceType>(2), std::nullopt);
  EXPECT_EQ(fromRawValue<AudioDeviceType>(-1), std::nullopt);
  EXPECT_EQ(fromRawValue<NativeAudioEventType>(5), NativeAudioEventType::deviceAudioData);
  EXPECT_EQ(fromRawValue<NativeAudioEventType>(6), std::nullopt);
  EXPECT_EQ(fromRawValue<NativeAudioEventType>(std::int64_t{1} << 32), std::nullopt);
}

}  // namespace
}  // namespace harkwell
