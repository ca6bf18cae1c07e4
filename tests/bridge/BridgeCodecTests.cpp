#include <gtest/gtest.h>

#include <bit>
#include <fstream>
#include <nlohmann/json.hpp>

#include "bridge/BridgeFlutterApiCodec.h"
#include "bridge/NativeAudioEvent.h"
#include "bridge/WireJson.h"
#include "platform/flutter/FlutterCodecError.h"
#include "platform/flutter/FlutterStandardMessageCodec.h"
#include "tests/bridge/BridgeChannelTestSupport.h"

namespace harkwell::test {
namespace {

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
  return name == "host"    ? static_cast<const FlutterMessageCodec&>(BridgeHostApiCodec::shared())
         : name == "event" ? events
                           : FlutterStandardMessageCodec::sharedInstance();
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

// At stake: each codec writes only its own records.
TEST(BridgeCodecForeignRecordTest, RefusesToWriteTheOtherSidesRecords) {
  EXPECT_THROW(events.encode(CodecCustomValue::make(AudioDevice{})), FlutterCodecError);
  EXPECT_THROW(events.encode(CodecList{CodecCustomValue::make(AudioPermission{})}),
               FlutterCodecError);
  EXPECT_THROW(
      BridgeHostApiCodec::shared().encode(CodecList{CodecCustomValue::make(NativeAudioEvent{})}),
      FlutterCodecError);
}

// At stake: the text people read while debugging the bridge says exactly what
// is on the wire (int32 vs int64, float bits, wire order) and reads back to the
// same value, NaN bits and broken strings included; a mistake in hand-written
// input is reported, never turned into some other value, and nesting cannot
// exhaust the stack. (Reading every kind is pinned by the codec vectors.)
TEST(WireJsonTest, PrintsTheTaggedFormAndReadsItBack) {
  const std::pair<CodecValue, std::string> cases[] = {
      {std::int32_t{5}, R"({"t":"int32","v":5})"},
      {std::int64_t{5}, R"({"t":"int64","v":"5"})"},
      {1.5, R"({"t":"float64","bits":"3ff8000000000000","v":1.5})"},
      {std::bit_cast<double>(std::uint64_t{0x7ff8000000000001}),
       R"({"t":"float64","bits":"7ff8000000000001","v":"NaN"})"},
      {std::string("a\xff", 2), "{\"t\":\"string\",\"v\":\"a\xef\xbf\xbd\",\"hex\":\"61ff\"}"},
      {std::vector<std::uint8_t>{0x00, 0xab, 0xff}, R"({"t":"uint8list","hex":"00abff"})"},
      {std::vector<float>{1.0f}, R"({"t":"float32list","bits":["3f800000"]})"},
      {CodecMap{{"b", CodecList{std::int32_t{1}}}, {"a", CodecNull{}}},
       R"({"t":"map","v":[[{"t":"string","v":"b"},{"t":"list","v":[{"t":"int32","v":1}]}],)"
       R"([{"t":"string","v":"a"},{"t":"null"}]]})"},
      {CodecCustomValue::make(AudioDevice{"N", AudioDeviceType::output, "I", true}),
       R"({"t":"AudioDevice","v":{"name":"N","type":1,"id":"I","isDefault":true}})"},
      {CodecCustomValue::make(
           NativeAudioEvent{"A", AudioDeviceType::input, NativeAudioEventType::deviceAudioData,
                            std::vector<std::optional<double>>{0.5, std::nullopt}, std::nullopt}),
       R"({"t":"NativeAudioEvent","v":{"id":"A","type":0,"eventType":5,"audioData":[0.5,null],)"
       R"("error":null}})"},
  };
  for (const auto& [value, json] : cases) {
    EXPECT_EQ(formatWireJson(value), json);
    EXPECT_EQ(formatWireJson(parseWireJson(json)), json);  // NaN is unequal to itself
  }

  std::string deep = R"({"t":"null"})";
  for (int i = 0; i < 100; ++i) deep = R"({"t":"list","v":[)" + deep + "]}";
  for (const std::string& bad :
       {std::string("{\"t\":"), std::string(R"({"t":"int16","v":1})"),
        std::string(R"({"t":"int32","v":2147483648})"),
        std::string(R"({"t":"float64","bits":"3ff8000000000000","v":2})"),
        std::string(R"({"t":"list","v":[1]})"),
        std::string(R"({"t":"AudioDevice","v":{"name":"N","type":2,"id":"I","isDefault":true}})"),
        deep}) {
    EXPECT_THROW(parseWireJson(bad), WireJsonError) << bad.substr(0, 60);
  }
}

}  // namespace
}  // namespace harkwell::test
