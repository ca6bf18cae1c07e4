#include "bridge/WireJson.h"

#include <gtest/gtest.h>

#include <bit>

#include "bridge/AudioDevice.h"
#include "bridge/NativeAudioEvent.h"

namespace harkwell::test {
namespace {

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
      {-0.0, R"({"t":"float64","bits":"8000000000000000","v":-0.0})"},
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
    const CodecValue read = parseWireJson(json);
    EXPECT_EQ(formatWireJson(read), json);  // NaN is unequal to itself: compare the text
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
