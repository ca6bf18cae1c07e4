#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

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

namespace harkwell {
namespace {

using testing::bytesFromHex;
using testing::hexFromBytes;
using testing::normalizedHex;

// A golden or malformed message shared with the page's JS codec tests
// (tests/vectors/codec.json); values in tagged JSON (bridge/WireJson.h).
struct CodecVector {
  std::string name;
  std::string codec;  // "standard", "host" or "event"
  std::string hex;
  CodecValue value;       // golden only
  bool canonical = true;  // golden only: false for forms read but never written
  std::string error;      // malformed only: a fragment of the reader's reason
};

std::vector<CodecVector> codecVectors(const std::string& group) {
  std::ifstream file(HARKWELL_CODEC_VECTORS);
  const nlohmann::json all = nlohmann::json::parse(file);
  std::vector<CodecVector> vectors;
  for (const auto& entry : all.at(group)) {
    CodecVector v{entry.at("name"), entry.at("codec"), entry.at("hex"), CodecValue(), true, ""};
    if (entry.contains("value")) v.value = parseWireJson(entry["value"].dump());
    v.canonical = entry.value("canonical", true);
    v.error = entry.value("error", "");
    vectors.push_back(std::move(v));
  }
  return vectors;
}

const BridgeFlutterApiCodec& events = BridgeFlutterApiCodec::shared();

const FlutterMessageCodec& codecOf(const CodecVector& v) {
  if (v.codec == "host") return BridgeHostApiCodec::shared();
  if (v.codec == "event") return events;
  return FlutterStandardMessageCodec::sharedInstance();
}

// At stake: byte-for-byte agreement with the UI's codecs in both directions,
// for every standard type and every record wherever it sits in a message; and
// harkwell-wire's text form reads back to the same bytes, padding included.
// The messages are shared with the page's codec tests.
class BridgeCodecGoldenTest : public ::testing::TestWithParam<CodecVector> {};

TEST_P(BridgeCodecGoldenTest, WritesAndReadsTheExactBytes) {
  const CodecVector& c = GetParam();
  const CodecDecodeResult decoded = codecOf(c).decode(bytesFromHex(c.hex));
  ASSERT_TRUE(decoded.ok()) << decoded.error;
  EXPECT_TRUE(*decoded.value == c.value);
  if (!c.canonical) return;
  EXPECT_EQ(hexFromBytes(codecOf(c).encode(c.value)), normalizedHex(c.hex));
  EXPECT_EQ(hexFromBytes(codecOf(c).encode(parseWireJson(formatWireJson(*decoded.value)))),
            normalizedHex(c.hex));
}

INSTANTIATE_TEST_SUITE_P(Messages, BridgeCodecGoldenTest,
                         ::testing::ValuesIn(codecVectors("golden")),
                         [](const auto& info) { return info.param.name; });

// At stake: a message or record that breaks its shape fails the one message
// with a reason naming the problem (for records: the record, the field and the
// offset), never a half-filled value.
class BridgeCodecMalformedTest : public ::testing::TestWithParam<CodecVector> {};

TEST_P(BridgeCodecMalformedTest, FailsTheMessageNamingWhatIsWrong) {
  const CodecDecodeResult decoded = codecOf(GetParam()).decode(bytesFromHex(GetParam().hex));
  ASSERT_FALSE(decoded.ok());
  EXPECT_NE(decoded.error.find(GetParam().error), std::string::npos) << decoded.error;
}

INSTANTIATE_TEST_SUITE_P(Cases, BridgeCodecMalformedTest,
                         ::testing::ValuesIn(codecVectors("malformed")),
                         [](const auto& info) { return info.param.name; });

// At stake: each codec writes only its own records; the event writer sends
// samples and error straight from the event, and its bytes, alone or as the
// channel's message [event], must equal the record's generic form for any
// sample count (size forms change at 254) and read back unchanged.
TEST(BridgeEventCodecTest, WritesOnlyItsRecordsAndEventsAsTheirGenericForm) {
  EXPECT_THROW(events.encode(CodecCustomValue::make(AudioDevice{})), FlutterCodecError);
  EXPECT_THROW(events.encode(CodecList{CodecCustomValue::make(AudioPermission{})}),
               FlutterCodecError);
  EXPECT_THROW(
      BridgeHostApiCodec::shared().encode(CodecList{CodecCustomValue::make(NativeAudioEvent{})}),
      FlutterCodecError);
  for (const std::size_t count : {0, 254}) {
    std::vector<std::optional<double>> samples(count, 0.25);
    if (count > 3) samples[3].reset();
    const NativeAudioEvent e{"m", AudioDeviceType::output, NativeAudioEventType::deviceAudioData,
                             samples, "e"};
    std::vector<std::uint8_t> generic{0x0c, 0x01, 0x80};
    FlutterStandardWriter(generic).writeValue(e.toList());
    const auto message = events.encodeEventMessage(e);
    EXPECT_EQ(hexFromBytes(message), hexFromBytes(generic)) << count;
    EXPECT_EQ(hexFromBytes(events.encode(CodecList{CodecCustomValue::make(e)})),
              hexFromBytes(generic));
    const CodecDecodeResult decoded = events.decode(message);
    ASSERT_TRUE(decoded.ok()) << decoded.error;
    EXPECT_EQ(*std::get<CodecList>(*decoded.value)[0].custom<NativeAudioEvent>(), e);
  }
}

}  // namespace
}  // namespace harkwell
