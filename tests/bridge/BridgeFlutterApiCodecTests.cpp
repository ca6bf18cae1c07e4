#include "bridge/BridgeFlutterApiCodec.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bridge/AudioDevice.h"
#include "bridge/AudioPermission.h"
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

const FlutterMessageCodec& eventCodec() {
  return BridgeFlutterApiCodec::shared();
}

CodecValue record(const NativeAudioEvent& event) {
  return CodecCustomValue::make(event);
}

NativeAudioEvent audioEvent(std::vector<std::optional<double>> samples) {
  return NativeAudioEvent{"m", AudioDeviceType::output, NativeAudioEventType::deviceAudioData,
                          std::move(samples), std::nullopt};
}

// What is at stake: events must be byte-identical to what the UI's generated
// code reads; the samples are a generic list of doubles, not a typed array.
class BridgeFlutterApiCodecEventBytesTest : public ::testing::Test {};

TEST_F(BridgeFlutterApiCodecEventBytesTest, WritesADeviceStartEventAsCode128AndFiveFields) {
  const NativeAudioEvent start{"m", AudioDeviceType::input, NativeAudioEventType::deviceStart,
                               std::nullopt, std::nullopt};
  EXPECT_EQ(hexFromBytes(eventCodec().encode(record(start))),
            normalizedHex("80 0c 05 | 07 01 6d | 04 00 00 00 00 00 00 00 00 | "
                          "04 03 00 00 00 00 00 00 00 | 00 | 00"));
}

TEST_F(BridgeFlutterApiCodecEventBytesTest, WritesSamplesAsAGenericListOfAlignedDoubles) {
  NativeAudioEvent event = audioEvent({0.5, -0.25});
  event.type = AudioDeviceType::input;
  EXPECT_EQ(hexFromBytes(eventCodec().encode(record(event))),
            normalizedHex("80 0c 05 07 01 6d | 04 00 00 00 00 00 00 00 00 | "
                          "04 05 00 00 00 00 00 00 00 | 0c 02 06 00 00 00 00 00 | "
                          "00 00 00 00 00 00 e0 3f | 06 00 00 00 00 00 00 00 | "
                          "00 00 00 00 00 00 d0 bf | 00"));
}

TEST_F(BridgeFlutterApiCodecEventBytesTest, ReadsNullAudioDataAndErrorAsAbsent) {
  const CodecDecodeResult decoded =
      eventCodec().decode(bytesFromHex("80 0c 05 07 01 6d 03 01 00 00 00 03 04 00 00 00 00 00"));
  ASSERT_TRUE(decoded.ok()) << decoded.error;
  const NativeAudioEvent expected{"m", AudioDeviceType::output, NativeAudioEventType::deviceStop,
                                  std::nullopt, std::nullopt};
  EXPECT_EQ(*decoded.value->custom<NativeAudioEvent>(), expected);
}

TEST_F(BridgeFlutterApiCodecEventBytesTest, ReadsASixElementListLikeTheFiveElementOne) {
  const CodecDecodeResult five = eventCodec().decode(
      bytesFromHex("80 0c 05 07 01 6d 03 01 00 00 00 03 04 00 00 00 00 07 01 65"));
  const CodecDecodeResult six = eventCodec().decode(
      bytesFromHex("80 0c 06 07 01 6d 03 01 00 00 00 03 04 00 00 00 00 07 01 65 01"));
  ASSERT_TRUE(five.ok()) << five.error;
  ASSERT_TRUE(six.ok()) << six.error;
  EXPECT_TRUE(*five.value == *six.value);
  EXPECT_EQ(six.value->custom<NativeAudioEvent>()->error, "e");
}

TEST_F(BridgeFlutterApiCodecEventBytesTest, RefusesToWriteTheHostRecordsItDoesNotKnow) {
  EXPECT_THROW(eventCodec().encode(CodecCustomValue::make(AudioDevice{})), FlutterCodecError);
  EXPECT_THROW(eventCodec().encode(CodecList{CodecCustomValue::make(AudioPermission{})}),
               FlutterCodecError);
}

TEST_F(BridgeFlutterApiCodecEventBytesTest, DoesNotReadTheHostCodesAsRecords) {
  const CodecDecodeResult decoded = eventCodec().decode(bytesFromHex("82 0c 02 01 01"));
  ASSERT_FALSE(decoded.ok());
  EXPECT_NE(decoded.error.find("unknown type byte 0x82"), std::string::npos) << decoded.error;
}

// What is at stake: the writer sends samples straight from the event; its
// bytes must equal the record's generic list form for any sample count (size
// forms change at 254) and with absent samples, and read back unchanged.
class BridgeFlutterApiCodecSamplesTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(BridgeFlutterApiCodecSamplesTest, FastPathMatchesTheGenericListFormAndRoundTrips) {
  std::vector<std::optional<double>> samples;
  for (std::size_t i = 0; i < GetParam(); ++i) {
    samples.push_back(i % 97 == 3 ? std::nullopt : std::optional<double>(0.001 * double(i) - 0.5));
  }
  NativeAudioEvent event = audioEvent(samples);
  event.error = "e";

  std::vector<std::uint8_t> generic{0x80};
  FlutterStandardWriter(generic).writeValue(event.toList());
  const auto bytes = eventCodec().encode(record(event));
  EXPECT_EQ(hexFromBytes(bytes), hexFromBytes(generic));

  const CodecDecodeResult decoded = eventCodec().decode(bytes);
  ASSERT_TRUE(decoded.ok()) << decoded.error;
  EXPECT_EQ(*decoded.value->custom<NativeAudioEvent>(), event);

  // The event channel's message [event], encoded from the event alone.
  const CodecList message{CodecCustomValue::make(event)};
  EXPECT_EQ(hexFromBytes(BridgeFlutterApiCodec::shared().encodeEventMessage(event)),
            hexFromBytes(eventCodec().encode(message)));
}

INSTANTIATE_TEST_SUITE_P(SampleCounts, BridgeFlutterApiCodecSamplesTest,
                         ::testing::Values(0, 1, 2, 253, 254, 342, 1024));

struct MalformedEventCase {
  const char* name;
  const char* hex;
  const char* errorFragment;
};

// What is at stake: a UI-side event that breaks its shape fails by itself with
// a reason, instead of turning into an event with made-up fields.
class BridgeFlutterApiCodecMalformedEventTest
    : public ::testing::TestWithParam<MalformedEventCase> {};

TEST_P(BridgeFlutterApiCodecMalformedEventTest, FailsTheMessageNamingWhatIsWrong) {
  const CodecDecodeResult decoded = eventCodec().decode(bytesFromHex(GetParam().hex));
  ASSERT_FALSE(decoded.ok());
  EXPECT_NE(decoded.error.find(GetParam().errorFragment), std::string::npos) << decoded.error;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BridgeFlutterApiCodecMalformedEventTest,
    ::testing::Values(
        MalformedEventCase{"FourFields", "80 0c 04 07 01 6d 03 01 00 00 00 03 04 00 00 00 00",
                           "NativeAudioEvent: list has 4 elements, needs 5"},
        MalformedEventCase{"NullId", "80 0c 05 00 03 01 00 00 00 03 04 00 00 00 00 00",
                           "NativeAudioEvent.id: expected a string, got null"},
        MalformedEventCase{"EventTypeOutOfRange",
                           "80 0c 05 07 01 6d 03 01 00 00 00 03 06 00 00 00 00 00",
                           "NativeAudioEvent.eventType: 6 is not a NativeAudioEventType"},
        MalformedEventCase{"AudioDataNotAList",
                           "80 0c 05 07 01 6d 03 01 00 00 00 03 05 00 00 00 07 01 61 00",
                           "NativeAudioEvent.audioData: expected a list of doubles or null, got "
                           "string"},
        MalformedEventCase{
            "AudioDataHoldingAnInteger",
            "80 0c 05 07 01 6d 03 01 00 00 00 03 05 00 00 00 0c 01 03 01 00 00 00 00",
            "NativeAudioEvent.audioData"},
        MalformedEventCase{"ErrorNotAString",
                           "80 0c 05 07 01 6d 03 01 00 00 00 03 02 00 00 00 00 01",
                           "NativeAudioEvent.error: expected a string or null, got bool"},
        MalformedEventCase{"CodeFollowedByAMap", "80 0d 00",
                           "NativeAudioEvent code is followed by a map, not a list at offset 0"}),
    [](const auto& info) { return std::string(info.param.name); });

// What is at stake: values that are not records pass through either codec
// exactly as through the standard codec.
class BridgeCodecPassThroughTest : public ::testing::TestWithParam<CodecValue> {};

TEST_P(BridgeCodecPassThroughTest, BothCodecsEncodeAndDecodeLikeTheStandardCodec) {
  const auto standard = FlutterStandardMessageCodec::sharedInstance().encode(GetParam());
  for (const FlutterMessageCodec* codec :
       {static_cast<const FlutterMessageCodec*>(&BridgeHostApiCodec::shared()),
        static_cast<const FlutterMessageCodec*>(&BridgeFlutterApiCodec::shared())}) {
    EXPECT_EQ(hexFromBytes(codec->encode(GetParam())), hexFromBytes(standard));
    const CodecDecodeResult decoded = codec->decode(standard);
    ASSERT_TRUE(decoded.ok()) << decoded.error;
    EXPECT_TRUE(*decoded.value == GetParam());
  }
}

INSTANTIATE_TEST_SUITE_P(
    StandardValues, BridgeCodecPassThroughTest,
    ::testing::Values(CodecValue(), CodecValue("text"), CodecValue(std::int32_t{7}),
                      CodecValue(std::int64_t{7}), CodecValue(0.5),
                      CodecValue(CodecMap{{"k", CodecList{std::int32_t{1}, CodecValue()}}}),
                      CodecValue(std::vector<double>{0.5, 1.5}),
                      CodecValue(CodecList{CodecList{}, std::vector<std::uint8_t>{1}})));

// What is at stake: the shared event codec is used by every capture queue at
// once; concurrent encodes and decodes must not interfere.
class BridgeFlutterApiCodecConcurrencyTest : public ::testing::Test {};

TEST_F(BridgeFlutterApiCodecConcurrencyTest, SharedCodecServesSeveralThreadsAtOnce) {
  constexpr int threadCount = 4;
  constexpr int eventsPerThread = 200;
  std::vector<int> mismatches(threadCount, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < threadCount; ++t) {
    threads.emplace_back([t, &mismatches] {
      for (int i = 0; i < eventsPerThread; ++i) {
        const NativeAudioEvent event = audioEvent(std::vector<std::optional<double>>(
            static_cast<std::size_t>(16 + t), double(t * 1000 + i)));
        const CodecDecodeResult decoded = BridgeFlutterApiCodec::shared().decode(
            BridgeFlutterApiCodec::shared().encode(record(event)));
        if (!decoded.ok() || *decoded.value->custom<NativeAudioEvent>() != event) ++mismatches[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < threadCount; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

}  // namespace
}  // namespace harkwell
