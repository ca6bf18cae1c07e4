#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "bridge/AudioDevice.h"
#include "bridge/AudioPermission.h"
#include "bridge/BridgeFlutterApiCodec.h"
#include "bridge/BridgeHostApiCodec.h"
#include "bridge/NativeAudioEvent.h"
#include "platform/flutter/FlutterCodecError.h"
#include "platform/flutter/FlutterStandardWriter.h"
#include "tests/support/CodecByteHelpers.h"

namespace harkwell {
namespace {

using testing::bytesFromHex;
using testing::hexFromBytes;
using testing::normalizedHex;

const FlutterMessageCodec* const host = &BridgeHostApiCodec::shared();
const FlutterMessageCodec* const events = &BridgeFlutterApiCodec::shared();

NativeAudioEvent event(AudioDeviceType type, NativeAudioEventType eventType,
                       std::optional<std::vector<std::optional<double>>> samples = std::nullopt,
                       std::optional<std::string> error = std::nullopt) {
  return NativeAudioEvent{"m", type, eventType, std::move(samples), std::move(error)};
}

struct GoldenCase {
  const char* name;
  const FlutterMessageCodec* codec;
  CodecValue value;
  const char* hex;
  bool canonical;  // false: a form the UI may send, read but never written
};

// What is at stake: records must be byte-identical to what the UI's generated
// code writes and reads, wherever they sit in a message; event samples are a
// generic list of aligned doubles, not a typed array.
class BridgeCodecGoldenTest : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(BridgeCodecGoldenTest, WritesAndReadsTheExactBytes) {
  const GoldenCase& c = GetParam();
  if (c.canonical) {
    EXPECT_EQ(hexFromBytes(c.codec->encode(c.value)), normalizedHex(c.hex));
  }
  const CodecDecodeResult decoded = c.codec->decode(bytesFromHex(c.hex));
  ASSERT_TRUE(decoded.ok()) << decoded.error;
  EXPECT_TRUE(*decoded.value == c.value);
}

const AudioDevice mic{"Mic", AudioDeviceType::output, "id1", true};
const AudioDevice deviceA{"a", AudioDeviceType::input, "1", false};

const GoldenCase goldenCases[] = {
    {"Device", host, CodecCustomValue::make(mic),
     "80 0c 04 | 07 03 4d 69 63 | 04 01 00 00 00 00 00 00 00 | 07 03 69 64 31 | 01", true},
    {"Permission", host, CodecCustomValue::make(AudioPermission{true, false}), "82 0c 02 01 02",
     true},
    {"EachDeviceOfAListWithItsCode", host,
     CodecList{
         CodecValue(CodecList{CodecCustomValue::make(deviceA), CodecCustomValue::make(deviceA)})},
     "0c 01 0c 02 | 80 0c 04 07 01 61 04 00 00 00 00 00 00 00 00 07 01 31 02 |"
     "80 0c 04 07 01 61 04 00 00 00 00 00 00 00 00 07 01 31 02",
     true},
    {"ElementsPastTheLastField", host, CodecCustomValue::make(AudioPermission{true, true}),
     "82 0c 03 01 01 07 01 78", false},
    {"StartEvent", events,
     CodecCustomValue::make(event(AudioDeviceType::input, NativeAudioEventType::deviceStart)),
     "80 0c 05 | 07 01 6d | 04 00 00 00 00 00 00 00 00 | 04 03 00 00 00 00 00 00 00 | 00 | 00",
     true},
    {"EventSamples", events,
     CodecCustomValue::make(event(AudioDeviceType::input, NativeAudioEventType::deviceAudioData,
                                  std::vector<std::optional<double>>{0.5, -0.25})),
     "80 0c 05 07 01 6d | 04 00 00 00 00 00 00 00 00 | 04 05 00 00 00 00 00 00 00 |"
     "0c 02 06 00 00 00 00 00 | 00 00 00 00 00 00 e0 3f | 06 00 00 00 00 00 00 00 |"
     "00 00 00 00 00 00 d0 bf | 00",
     true},
    {"EventOfSixElements", events,
     CodecCustomValue::make(
         event(AudioDeviceType::output, NativeAudioEventType::deviceStop, std::nullopt, "e")),
     "80 0c 06 07 01 6d 03 01 00 00 00 03 04 00 00 00 00 07 01 65 01", false},
};

INSTANTIATE_TEST_SUITE_P(Messages, BridgeCodecGoldenTest, ::testing::ValuesIn(goldenCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct MalformedCase {
  const char* name;
  const FlutterMessageCodec* codec;
  const char* hex;
  const char* errorFragment;
};

// What is at stake: a record that breaks its shape fails the one message with
// a reason naming the record, the field and the offset, never a half-filled
// record.
class BridgeCodecMalformedTest : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(BridgeCodecMalformedTest, FailsTheMessageNamingWhatIsWrong) {
  const CodecDecodeResult decoded = GetParam().codec->decode(bytesFromHex(GetParam().hex));
  ASSERT_FALSE(decoded.ok());
  EXPECT_NE(decoded.error.find(GetParam().errorFragment), std::string::npos) << decoded.error;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BridgeCodecMalformedTest,
    ::testing::Values(
        MalformedCase{"ShortDevice", host, "80 0c 03 07 01 61 04 00 00 00 00 00 00 00 00 07 01 31",
                      "malformed AudioDevice (AudioDevice: list has 3 elements, needs 4) at "
                      "offset 0"},
        MalformedCase{"TypeOutOfRange", host,
                      "80 0c 04 07 01 61 04 02 00 00 00 00 00 00 00 07 01 31 02",
                      "AudioDevice.type: 2 is not an AudioDeviceType"},
        MalformedCase{"NestedRecordsOwnOffset", host, "0c 02 01 82 0c 00", "at offset 3"},
        MalformedCase{"UnknownCode", host, "83 0c 00", "unknown type byte 0x83"},
        MalformedCase{"TrailingBytes", host, "82 0c 02 01 01 00", "unused bytes"},
        MalformedCase{"HostCodeOnTheEventCodec", events, "82 0c 02 01 01",
                      "unknown type byte 0x82"},
        MalformedCase{"FourFieldEvent", events,
                      "80 0c 04 07 01 6d 03 01 00 00 00 03 04 00 00 00 00",
                      "NativeAudioEvent: list has 4 elements, needs 5"},
        MalformedCase{"IntegerSample", events,
                      "80 0c 05 07 01 6d 03 01 00 00 00 03 05 00 00 00 0c 01 03 01 00 00 00 00",
                      "NativeAudioEvent.audioData"}),
    [](const auto& info) { return std::string(info.param.name); });

// What is at stake: each codec writes only its own records.
TEST(BridgeCodecForeignRecordTest, RefusesToWriteTheOtherSidesRecords) {
  EXPECT_THROW(events->encode(CodecCustomValue::make(AudioDevice{})), FlutterCodecError);
  EXPECT_THROW(events->encode(CodecList{CodecCustomValue::make(AudioPermission{})}),
               FlutterCodecError);
  EXPECT_THROW(host->encode(CodecList{CodecCustomValue::make(NativeAudioEvent{})}),
               FlutterCodecError);
}

// What is at stake: the event writer sends samples straight from the event;
// its bytes must equal the record's generic list form for any sample count
// (size forms change at 254) and with absent samples, and read back unchanged.
class BridgeEventSamplesTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(BridgeEventSamplesTest, FastPathMatchesTheGenericListFormAndRoundTrips) {
  std::vector<std::optional<double>> samples;
  for (std::size_t i = 0; i < GetParam(); ++i) {
    samples.push_back(i % 97 == 3 ? std::nullopt : std::optional<double>(0.001 * double(i) - 0.5));
  }
  const NativeAudioEvent e =
      event(AudioDeviceType::output, NativeAudioEventType::deviceAudioData, samples, "e");

  std::vector<std::uint8_t> generic{0x80};
  FlutterStandardWriter(generic).writeValue(e.toList());
  const auto bytes = events->encode(CodecCustomValue::make(e));
  EXPECT_EQ(hexFromBytes(bytes), hexFromBytes(generic));
  const CodecDecodeResult decoded = events->decode(bytes);
  ASSERT_TRUE(decoded.ok()) << decoded.error;
  EXPECT_EQ(*decoded.value->custom<NativeAudioEvent>(), e);
  // The event channel's message [event], encoded from the event alone.
  EXPECT_EQ(hexFromBytes(BridgeFlutterApiCodec::shared().encodeEventMessage(e)),
            hexFromBytes(events->encode(CodecList{CodecCustomValue::make(e)})));
}

INSTANTIATE_TEST_SUITE_P(SampleCounts, BridgeEventSamplesTest,
                         ::testing::Values(0, 1, 253, 254, 1024));

}  // namespace
}  // namespace harkwell
