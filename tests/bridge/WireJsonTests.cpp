#include "bridge/WireJson.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "bridge/AudioDevice.h"
#include "bridge/NativeAudioEvent.h"

namespace harkwell::test {
namespace {

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
    {"Int32", std::int32_t{5}, R"({"t":"int32","v":5})"},
    {"Int64", std::int64_t{5}, R"({"t":"int64","v":"5"})"},
    {"Float64", 1.5, R"({"t":"float64","bits":"3ff8000000000000","v":1.5})"},
    {"NegativeZero", -0.0, R"({"t":"float64","bits":"8000000000000000","v":-0.0})"},
    {"Uint8List", std::vector<std::uint8_t>{0x00, 0xab, 0xff},
     R"({"t":"uint8list","hex":"00abff"})"},
    {"Float32List", std::vector<float>{1.0f}, R"({"t":"float32list","bits":["3f800000"]})"},
    {"List", CodecList{std::int32_t{1}, CodecNull{}},
     R"({"t":"list","v":[{"t":"int32","v":1},{"t":"null"}]})"},
    {"MapInWireOrder", CodecMap{{"b", true}, {"a", CodecNull{}}},
     R"({"t":"map","v":[[{"t":"string","v":"b"},{"t":"bool","v":true}],[{"t":"string","v":"a"},{"t":"null"}]]})"},
    {"AudioDevice", CodecCustomValue::make(AudioDevice{"N", AudioDeviceType::output, "I", true}),
     R"({"t":"AudioDevice","v":{"name":"N","type":1,"id":"I","isDefault":true}})"},
    {"NativeAudioEvent",
     CodecCustomValue::make(
         NativeAudioEvent{"A", AudioDeviceType::input, NativeAudioEventType::deviceAudioData,
                          std::vector<std::optional<double>>{0.5, std::nullopt}, std::nullopt}),
     R"({"t":"NativeAudioEvent","v":{"id":"A","type":0,"eventType":5,"audioData":[0.5,null],"error":null}})"},
};

INSTANTIATE_TEST_SUITE_P(Values, WireJsonGoldenTest, ::testing::ValuesIn(goldenCases),
                         [](const auto& info) { return std::string(info.param.name); });

// At stake: values that are not plain JSON keep their exact bits and bytes.
TEST(WireJsonExactnessTest, NaNKeepsItsBitsAndABrokenStringItsBytes) {
  const std::string nanJson = R"({"t":"float64","bits":"7ff8000000000001","v":"NaN"})";
  const CodecValue nan = parseWireJson(nanJson);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(std::get<double>(nan)), 0x7ff8000000000001u);
  EXPECT_EQ(formatWireJson(nan), nanJson);

  const CodecValue broken = std::string("a\xff", 2);
  const std::string json = formatWireJson(broken);
  EXPECT_EQ(json, "{\"t\":\"string\",\"v\":\"a\xef\xbf\xbd\",\"hex\":\"61ff\"}");
  EXPECT_EQ(parseWireJson(json), broken);
}

// At stake: a mistake in hand-written input is reported, never turned into
// some other value, and nesting cannot exhaust the stack.
class WireJsonRejectTest : public ::testing::TestWithParam<std::string> {};

TEST_P(WireJsonRejectTest, ThrowsWireJsonError) {
  EXPECT_THROW(parseWireJson(GetParam()), WireJsonError);
}

std::string deeplyNested(int depth) {
  std::string json;
  for (int i = 0; i < depth; ++i) json += R"({"t":"list","v":[)";
  json += R"({"t":"null"})";
  for (int i = 0; i < depth; ++i) json += "]}";
  return json;
}

INSTANTIATE_TEST_SUITE_P(
    Documents, WireJsonRejectTest,
    ::testing::Values("{\"t\":", R"({"t":"int16","v":1})", R"({"t":"int32","v":2147483648})",
                      R"({"t":"float64","bits":"3ff8000000000000","v":2})",
                      R"({"t":"list","v":[1]})",
                      R"({"t":"AudioDevice","v":{"name":"N","type":2,"id":"I","isDefault":true}})",
                      deeplyNested(100)));

}  // namespace
}  // namespace harkwell::test
