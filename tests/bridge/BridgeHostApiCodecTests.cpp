#include "bridge/BridgeHostApiCodec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge/AudioDevice.h"
#include "bridge/AudioPermission.h"
#include "bridge/NativeAudioEvent.h"
#include "platform/flutter/FlutterCodecError.h"
#include "tests/support/CodecByteHelpers.h"

namespace harkwell {
namespace {

using testing::bytesFromHex;
using testing::hexFromBytes;
using testing::normalizedHex;

const FlutterMessageCodec& hostCodec() {
  return BridgeHostApiCodec::shared();
}

CodecValue record(const AudioDevice& device) {
  return CodecCustomValue::make(device);
}
CodecValue record(const AudioPermission& permission) {
  return CodecCustomValue::make(permission);
}

const AudioDevice mic{"Mic", AudioDeviceType::output, "id1", true};
const char* micHex = "80 0c 04 | 07 03 4d 69 63 | 04 01 00 00 00 00 00 00 00 | 07 03 69 64 31 | 01";
const AudioDevice deviceA{"a", AudioDeviceType::input, "1", false};
const char* deviceAHex = "80 0c 04 07 01 61 04 00 00 00 00 00 00 00 00 07 01 31 02";

// What is at stake: the host codec's records must be byte-identical to what
// the UI's generated code writes and reads, wherever they sit in a message.
class BridgeHostApiCodecRecordBytesTest : public ::testing::Test {};

TEST_F(BridgeHostApiCodecRecordBytesTest, WritesAudioDeviceAsCode128AndItsList) {
  EXPECT_EQ(hexFromBytes(hostCodec().encode(record(mic))), normalizedHex(micHex));
}

TEST_F(BridgeHostApiCodecRecordBytesTest, WritesAudioPermissionAsCode130AndItsList) {
  EXPECT_EQ(hexFromBytes(hostCodec().encode(record(AudioPermission{true, false}))),
            "82 0c 02 01 02");
}

TEST_F(BridgeHostApiCodecRecordBytesTest, WritesEachDeviceOfAListWithItsCode) {
  // Wrapped in a CodecValue: braces around a lone CodecList copy it, not nest it.
  const CodecValue reply =
      CodecList{CodecValue(CodecList{record(deviceA), record(deviceA), record(deviceA)})};
  const std::string device = std::string(" ") + deviceAHex;
  EXPECT_EQ(hexFromBytes(hostCodec().encode(reply)),
            normalizedHex("0c 01 0c 03" + device + device + device));
}

TEST_F(BridgeHostApiCodecRecordBytesTest, RoundTripsRecordsNestedInMaps) {
  const CodecValue message = CodecMap{{"permission", record(AudioPermission{false, true})},
                                      {record(deviceA), CodecList{record(mic)}}};
  const auto bytes = hostCodec().encode(message);
  EXPECT_EQ(hexFromBytes(bytes),
            normalizedHex(std::string("0d 02 07 0a 70 65 72 6d 69 73 73 69 6f 6e 82 0c 02 02 01 ") +
                          deviceAHex + " 0c 01 " + micHex));
  const CodecDecodeResult decoded = hostCodec().decode(bytes);
  ASSERT_TRUE(decoded.ok()) << decoded.error;
  EXPECT_TRUE(*decoded.value == message);
}

TEST_F(BridgeHostApiCodecRecordBytesTest, ReadsCode129AsTheSameAudioDevice) {
  auto bytes = bytesFromHex(micHex);
  bytes[0] = 0x81;
  const CodecDecodeResult decoded = hostCodec().decode(bytes);
  ASSERT_TRUE(decoded.ok()) << decoded.error;
  ASSERT_NE(decoded.value->custom<AudioDevice>(), nullptr);
  EXPECT_EQ(*decoded.value->custom<AudioDevice>(), mic);
}

TEST_F(BridgeHostApiCodecRecordBytesTest, ReadsAnEnumerationSentAsInt32) {
  const CodecDecodeResult decoded =
      hostCodec().decode(bytesFromHex("80 0c 04 07 03 4d 69 63 03 01 00 00 00 07 03 69 64 31 01"));
  ASSERT_TRUE(decoded.ok()) << decoded.error;
  EXPECT_EQ(*decoded.value->custom<AudioDevice>(), mic);
}

TEST_F(BridgeHostApiCodecRecordBytesTest, IgnoresElementsPastTheLastField) {
  const CodecDecodeResult decoded = hostCodec().decode(bytesFromHex("82 0c 03 01 01 07 01 78"));
  ASSERT_TRUE(decoded.ok()) << decoded.error;
  EXPECT_EQ(*decoded.value->custom<AudioPermission>(), (AudioPermission{true, true}));
}

TEST_F(BridgeHostApiCodecRecordBytesTest, RefusesToWriteTheEventRecordItDoesNotKnow) {
  const CodecValue event = CodecCustomValue::make(NativeAudioEvent{});
  EXPECT_THROW(hostCodec().encode(CodecList{event}), FlutterCodecError);
}

struct MalformedRecordCase {
  const char* name;
  const char* hex;
  const char* errorFragment;
};

// What is at stake: a record that breaks its shape must fail the one message
// with a reason that names the record, the field and the offset, never become
// a half-filled record.
class BridgeHostApiCodecMalformedRecordTest : public ::testing::TestWithParam<MalformedRecordCase> {
};

TEST_P(BridgeHostApiCodecMalformedRecordTest, FailsTheMessageNamingWhatIsWrong) {
  const CodecDecodeResult decoded = hostCodec().decode(bytesFromHex(GetParam().hex));
  ASSERT_FALSE(decoded.ok());
  EXPECT_NE(decoded.error.find(GetParam().errorFragment), std::string::npos) << decoded.error;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BridgeHostApiCodecMalformedRecordTest,
    ::testing::Values(
        MalformedRecordCase{"ShortDeviceList",
                            "80 0c 03 07 01 61 04 00 00 00 00 00 00 00 00 07 01 31",
                            "malformed AudioDevice (AudioDevice: list has 3 elements, needs 4) at "
                            "offset 0"},
        MalformedRecordCase{"NullName", "80 0c 04 00 04 00 00 00 00 00 00 00 00 07 01 31 02",
                            "AudioDevice.name: expected a string, got null"},
        MalformedRecordCase{"IsDefaultOfWrongKind",
                            "80 0c 04 07 01 61 04 00 00 00 00 00 00 00 00 07 01 31 03 01 00 00 00",
                            "AudioDevice.isDefault: expected a bool, got int32"},
        MalformedRecordCase{"TypeOutOfRange",
                            "80 0c 04 07 01 61 04 02 00 00 00 00 00 00 00 07 01 31 02",
                            "AudioDevice.type: 2 is not an AudioDeviceType"},
        MalformedRecordCase{"NegativeType", "80 0c 04 07 01 61 03 ff ff ff ff 07 01 31 02",
                            "AudioDevice.type: -1 is not an AudioDeviceType"},
        MalformedRecordCase{"TypeAsString", "80 0c 04 07 01 61 07 01 31 07 01 31 02",
                            "AudioDevice.type: expected an integer, got string"},
        MalformedRecordCase{"DeviceCodeFollowedByAString", "80 07 01 61",
                            "AudioDevice code is followed by a string, not a list at offset 0"},
        MalformedRecordCase{"DeviceCodeAtTheEnd", "0c 01 80",
                            "truncated value (needs 1 bytes, 0 left) at offset 3"},
        MalformedRecordCase{"ShortPermissionList", "82 0c 01 01",
                            "AudioPermission: list has 1 elements, needs 2"},
        MalformedRecordCase{"NullMic", "82 0c 02 01 00",
                            "AudioPermission.mic: expected a bool, got null"},
        MalformedRecordCase{"NestedRecordReportsItsOwnOffset", "0c 02 01 82 0c 00", "at offset 3"},
        MalformedRecordCase{"UnknownCustomCode", "83 0c 00", "unknown type byte 0x83"},
        MalformedRecordCase{"TrailingBytesAfterARecord", "82 0c 02 01 01 00", "unused bytes"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace harkwell
