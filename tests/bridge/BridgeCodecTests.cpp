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

using namespace harkwell::testing;

const BridgeFlutterApiCodec& events = BridgeFlutterApiCodec::shared();

// The golden and malformed messages shared with the page's JS codec tests:
// values in tagged JSON (bridge/WireJson.h); canonical false for forms read but
// never written; for malformed ones, a fragment of the reader's reason.
std::vector<nlohmann::json> codecVectors() {
  std::ifstream file(HARKWELL_CODEC_VECTORS);
  const nlohmann::json all = nlohmann::json::parse(file);
  std::vector<nlohmann::json> vectors(all.at("golden").begin(), all.at("golden").end());
  vectors.insert(vectors.end(), all.at("malformed").begin(), all.at("malformed").end());
  return vectors;
}

const FlutterMessageCodec& codecOf(const std::string& name) {
  if (name == "host") return BridgeHostApiCodec::shared();
  if (name == "event") return events;
  return FlutterStandardMessageCodec::sharedInstance();
}

// At stake: byte-for-byte agreement with the UI's codecs in both directions,
// for every standard type and every record wherever it sits in a message, and
// harkwell-wire's text form reads back to the same bytes, padding included; a
// message or record that breaks its shape fails the one message with a reason
// naming the problem (for records: the record, the field and the offset).
class BridgeCodecVectorTest : public ::testing::TestWithParam<nlohmann::json> {};

TEST_P(BridgeCodecVectorTest, WritesAndReadsTheExactBytesOrNamesWhatIsWrong) {
  const nlohmann::json& v = GetParam();
  const FlutterMessageCodec& codec = codecOf(v.at("codec"));
  const std::string hex = v.at("hex");
  const CodecDecodeResult decoded = codec.decode(bytesFromHex(hex));
  if (v.contains("error")) {
    ASSERT_FALSE(decoded.ok());
    EXPECT_NE(decoded.error.find(v["error"].get<std::string>()), std::string::npos)
        << decoded.error;
    return;
  }
  const CodecValue value = parseWireJson(v.at("value").dump());
  ASSERT_TRUE(decoded.ok()) << decoded.error;
  EXPECT_TRUE(*decoded.value == value);
  if (!v.value("canonical", true)) return;
  EXPECT_EQ(hexFromBytes(codec.encode(value)), normalizedHex(hex));
  EXPECT_EQ(hexFromBytes(codec.encode(parseWireJson(formatWireJson(*decoded.value)))),
            normalizedHex(hex));
}

INSTANTIATE_TEST_SUITE_P(Messages, BridgeCodecVectorTest, ::testing::ValuesIn(codecVectors()),
                         [](const auto& info) {
                           return info.param["name"].template get<std::string>();
                         });

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
