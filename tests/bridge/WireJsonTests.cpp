#include "bridge/WireJson.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "bridge/AudioDevice.h"
#include "bridge/AudioPermission.h"
#include "bridge/BridgeFlutterApiCodec.h"
#include "bridge/BridgeHostApiCodec.h"
#include "bridge/NativeAudioEvent.h"
#include "platform/flutter/FlutterStandardMessageCodec.h"
#include "tests/support/CodecByteHelpers.h"

namespace harkwell::test {
namespace {

using harkwell::testing::bytesFromHex;
using harkwell::testing::hexFromBytes;
using harkwell::testing::normalizedHex;

struct GoldenCase {
  const char* name;
  CodecValue value;
  const char* json;
};

// At stake: the text people read while debugging the bridge says exactly what
// is on the wire (int32 vs int64, float bits, wire order), and reads back to
// the same value.
class WireJsonGoldenTest : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(WireJsonGoldenTest, PrintsTheTaggedFormAndReadsItBack) {
  EXPECT_EQ(formatWireJson(GetParam().value), GetParam().json);
  EXPECT_EQ(parseWireJson(GetParam().json), GetParam().value);
}

const GoldenCase goldenCases[] = {
    {"Null", CodecNull{}, R"({"t":"null"})"},
    {"True", true, R"({"t":"bool","v":true})"},
    {"Int32", std::int32_t{5}, R"({"t":"int32","v":5})"},
    {"Int64", std::int64_t{5}, R"({"t":"int64","v":"5"})"},
    {"Int64Minimum", std::numeric_limits<std::int64_t>::min(),
     R"({"t":"int64","v":"-9223372036854775808"})"},
    {"Float64", 1.5, R"({"t":"float64","bits":"3ff8000000000000","v":1.5})"},
    {"NegativeZero", -0.0, R"({"t":"float64","bits":"8000000000000000","v":-0.0})"},
    {"Infinity", std::numeric_limits<double>::infinity(),
     R"({"t":"float64","bits":"7ff0000000000000","v":"Infinity"})"},
    {"String", "h\u263aw", "{\"t\":\"string\",\"v\":\"h\u263aw\"}"},
    {"Uint8List", std::vector<std::uint8_t>{0x00, 0xab, 0xff},
     R"({"t":"uint8list","hex":"00abff"})"},
    {"Int32List", std::vector<std::int32_t>{-1, 7}, R"({"t":"int32list","v":[-1,7]})"},
    {"Int64List", std::vector<std::int64_t>{1, -2}, R"({"t":"int64list","v":["1","-2"]})"},
    {"Float32List", std::vector<float>{1.0f}, R"({"t":"float32list","bits":["3f800000"]})"},
    {"Float64List", std::vector<double>{-2.0},
     R"({"t":"float64list","bits":["c000000000000000"]})"},
    {"List", CodecList{std::int32_t{1}, CodecNull{}},
     R"({"t":"list","v":[{"t":"int32","v":1},{"t":"null"}]})"},
    {"MapInWireOrder", CodecMap{{"b", true}, {"a", CodecNull{}}},
     R"({"t":"map","v":[[{"t":"string","v":"b"},{"t":"bool","v":true}],[{"t":"string","v":"a"},{"t":"null"}]]})"},
    {"AudioDevice", CodecCustomValue::make(AudioDevice{"N", AudioDeviceType::output, "I", true}),
     R"({"t":"AudioDevice","v":{"name":"N","type":1,"id":"I","isDefault":true}})"},
    {"AudioPermission", CodecCustomValue::make(AudioPermission{true, false}),
     R"({"t":"AudioPermission","v":{"system":true,"mic":false}})"},
    {"NativeAudioEvent",
     CodecCustomValue::make(
         NativeAudioEvent{"A", AudioDeviceType::input, NativeAudioEventType::deviceAudioData,
                          std::vector<std::optional<double>>{0.5, std::nullopt}, std::nullopt}),
     R"({"t":"NativeAudioEvent","v":{"id":"A","type":0,"eventType":5,"audioData":[0.5,null],"error":null}})"},
};

INSTANTIATE_TEST_SUITE_P(Values, WireJsonGoldenTest, ::testing::ValuesIn(goldenCases),
                         [](const ::testing::TestParamInfo<GoldenCase>& info) {
                           return info.param.name;
                         });

// At stake: hand-written input in the friendlier forms means what it says.
class WireJsonInputFormsTest : public ::testing::Test {};

TEST_F(WireJsonInputFormsTest, Float64ByValueOrBitsAlone) {
  EXPECT_EQ(parseWireJson(R"({"t":"float64","v":1.5})"), CodecValue(1.5));
  EXPECT_EQ(parseWireJson(R"({"t":"float64","bits":"3ff8000000000000"})"), CodecValue(1.5));
  EXPECT_EQ(parseWireJson(R"({"t":"float64","v":2})"), CodecValue(2.0));
}

TEST_F(WireJsonInputFormsTest, NaNKeepsItsBits) {
  CodecValue fromBits = parseWireJson(R"({"t":"float64","bits":"7ff8000000000001","v":"NaN"})");
  EXPECT_EQ(std::bit_cast<std::uint64_t>(std::get<double>(fromBits)), 0x7ff8000000000001u);
  EXPECT_TRUE(std::isnan(std::get<double>(parseWireJson(R"({"t":"float64","v":"NaN"})"))));
  EXPECT_EQ(formatWireJson(fromBits), R"({"t":"float64","bits":"7ff8000000000001","v":"NaN"})");
}

TEST_F(WireJsonInputFormsTest, Int64AsAJsonNumberAndFloatListsByValue) {
  EXPECT_EQ(parseWireJson(R"({"t":"int64","v":-3})"), CodecValue(std::int64_t{-3}));
  EXPECT_EQ(parseWireJson(R"({"t":"float32list","v":[1,"-Infinity"]})"),
            CodecValue(std::vector<float>{1.0f, -std::numeric_limits<float>::infinity()}));
}

TEST_F(WireJsonInputFormsTest, AStringThatIsNotUtf8KeepsItsExactBytes) {
  const CodecValue broken = std::string("a\xff", 2);
  const std::string json = formatWireJson(broken);
  EXPECT_EQ(json, "{\"t\":\"string\",\"v\":\"a\xef\xbf\xbd\",\"hex\":\"61ff\"}");
  EXPECT_EQ(parseWireJson(json), broken);
}

// At stake: a mistake in hand-written input is reported with where it is,
// never turned into some other value.
struct RejectCase {
  const char* name;
  std::string json;
};

class WireJsonRejectTest : public ::testing::TestWithParam<RejectCase> {};

TEST_P(WireJsonRejectTest, ThrowsWireJsonError) {
  EXPECT_THROW(parseWireJson(GetParam().json), WireJsonError);
}

std::string deeplyNested(int depth) {
  std::string json;
  for (int i = 0; i < depth; ++i) json += R"({"t":"list","v":[)";
  json += R"({"t":"null"})";
  for (int i = 0; i < depth; ++i) json += "]}";
  return json;
}

const RejectCase rejectCases[] = {
    {"NotJson", "{\"t\":"},
    {"TwoDocuments", R"({"t":"null"} {"t":"null"})"},
    {"NoTag", R"({"v":1})"},
    {"UnknownTag", R"({"t":"int16","v":1})"},
    {"UnexpectedKey", R"({"t":"null","v":1})"},
    {"Int32TooLarge", R"({"t":"int32","v":2147483648})"},
    {"Int32Fraction", R"({"t":"int32","v":1.5})"},
    {"Int64NotDecimal", R"({"t":"int64","v":"12x"})"},
    {"Int64TooLarge", R"({"t":"int64","v":"9223372036854775808"})"},
    {"ShortBits", R"({"t":"float64","bits":"3ff8"})"},
    {"BitsAndValueDisagree", R"({"t":"float64","bits":"3ff8000000000000","v":2})"},
    {"OddHex", R"({"t":"uint8list","hex":"abc"})"},
    {"UntaggedListElement", R"({"t":"list","v":[1]})"},
    {"MapEntryNotAPair", R"({"t":"map","v":[[{"t":"null"}]]})"},
    {"DeviceTypeOutOfRange",
     R"({"t":"AudioDevice","v":{"name":"N","type":2,"id":"I","isDefault":true}})"},
    {"DeviceFieldMissing", R"({"t":"AudioDevice","v":{"name":"N","type":1,"id":"I"}})"},
    {"EventTypeOutOfRange",
     R"({"t":"NativeAudioEvent","v":{"id":"A","type":0,"eventType":6,"audioData":null,"error":null}})"},
    {"SampleNotANumber",
     R"({"t":"NativeAudioEvent","v":{"id":"A","type":0,"eventType":5,"audioData":["x"],"error":null}})"},
    {"TooDeep", deeplyNested(100)},
};

INSTANTIATE_TEST_SUITE_P(Documents, WireJsonRejectTest, ::testing::ValuesIn(rejectCases),
                         [](const ::testing::TestParamInfo<RejectCase>& info) {
                           return info.param.name;
                         });

// At stake: harkwell-wire's decode and encode are inverse through each codec,
// byte for byte, alignment padding included.
struct CodecRoundTrip {
  const char* name;
  const FlutterMessageCodec* codec;
  const char* hex;
};

class WireJsonCodecRoundTripTest : public ::testing::TestWithParam<CodecRoundTrip> {};

TEST_P(WireJsonCodecRoundTripTest, BytesToJsonAndBackGiveTheSameBytes) {
  const FlutterMessageCodec& codec = *GetParam().codec;
  CodecDecodeResult decoded = codec.decode(bytesFromHex(GetParam().hex));
  ASSERT_TRUE(decoded.ok()) << decoded.error;
  CodecValue reparsed = parseWireJson(formatWireJson(*decoded.value));
  EXPECT_EQ(hexFromBytes(codec.encode(reparsed)), normalizedHex(GetParam().hex));
}

const CodecRoundTrip roundTrips[] = {
    {"AudioDevice", &BridgeHostApiCodec::shared(),
     "80 0c 04 07 01 4e 04 01 00 00 00 00 00 00 00 07 01 49 01"},
    {"PermissionReply", &BridgeHostApiCodec::shared(), "0c 01 82 0c 02 01 02"},
    {"Event", &BridgeFlutterApiCodec::shared(),
     "0c 01 80 0c 05 07 01 41 04 00 00 00 00 00 00 00 00 04 05 00 00 00 00 00 00 00"
     "0c 01 06 00 00 00 | 00 00 00 00 00 00 e0 3f 00"},
    {"AlignedDoubleInList", &FlutterStandardMessageCodec::sharedInstance(),
     "0c 02 07 01 41 06 00 00 | 00 00 00 00 00 00 f8 3f"},
    {"EmptyTypedList", &FlutterStandardMessageCodec::sharedInstance(), "0c 01 0b 00 00 00 00 00"},
};

INSTANTIATE_TEST_SUITE_P(Messages, WireJsonCodecRoundTripTest, ::testing::ValuesIn(roundTrips),
                         [](const ::testing::TestParamInfo<CodecRoundTrip>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace harkwell::test
