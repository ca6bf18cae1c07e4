#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "bridge/AudioDevice.h"
#include "bridge/AudioPermission.h"
#include "bridge/BridgeFlutterApiCodec.h"
#include "bridge/BridgeHostApiCodec.h"
#include "bridge/NativeAudioEvent.h"
#include "bridge/WireJson.h"
#include "platform/flutter/FlutterCodecError.h"
#include "platform/flutter/FlutterStandardMessageCodec.h"
#include "platform/flutter/FlutterStandardWriter.h"
#include "tests/support/CodecByteHelpers.h"
#include "tests/support/CodecVectors.h"

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

const FlutterMessageCodec& codecOf(const testing::CodecVector& v) {
  return v.codec == "host"    ? *host
         : v.codec == "event" ? *events
                              : FlutterStandardMessageCodec::sharedInstance();
}

const std::vector<std::string> allCodecs = {"standard", "host", "event"};

// What is at stake: byte-for-byte agreement with the UI's codecs in both
// directions, for every standard type and every record wherever it sits in a
// message (event samples are a generic list of aligned doubles, not a typed
// array); and harkwell-wire's text form reads back to the same bytes, padding
// included. The messages are shared with the page's codec tests.
class BridgeCodecGoldenTest : public ::testing::TestWithParam<testing::CodecVector> {};

TEST_P(BridgeCodecGoldenTest, WritesAndReadsTheExactBytes) {
  const testing::CodecVector& c = GetParam();
  if (c.canonical) {
    EXPECT_EQ(hexFromBytes(codecOf(c).encode(c.value)), normalizedHex(c.hex));
  }
  const CodecDecodeResult decoded = codecOf(c).decode(bytesFromHex(c.hex));
  ASSERT_TRUE(decoded.ok()) << decoded.error;
  EXPECT_EQ(decoded.value->index(), c.value.index());
  EXPECT_TRUE(*decoded.value == c.value);
  if (c.canonical) {
    EXPECT_EQ(hexFromBytes(codecOf(c).encode(parseWireJson(formatWireJson(*decoded.value)))),
              normalizedHex(c.hex));
  }
}

INSTANTIATE_TEST_SUITE_P(Messages, BridgeCodecGoldenTest,
                         ::testing::ValuesIn(testing::codecVectors("golden", allCodecs)),
                         [](const auto& info) { return info.param.name; });

// What is at stake: a message or record that breaks its shape fails the one
// message with a reason naming the problem (for records: the record, the field
// and the offset), never a half-filled value.
class BridgeCodecMalformedTest : public ::testing::TestWithParam<testing::CodecVector> {};

TEST_P(BridgeCodecMalformedTest, FailsTheMessageNamingWhatIsWrong) {
  const CodecDecodeResult decoded = codecOf(GetParam()).decode(bytesFromHex(GetParam().hex));
  ASSERT_FALSE(decoded.ok());
  EXPECT_NE(decoded.error.find(GetParam().error), std::string::npos) << decoded.error;
}

INSTANTIATE_TEST_SUITE_P(Cases, BridgeCodecMalformedTest,
                         ::testing::ValuesIn(testing::codecVectors("malformed", allCodecs)),
                         [](const auto& info) { return info.param.name; });

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
