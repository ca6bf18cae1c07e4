#include "platform/flutter/FlutterStandardMessageCodec.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "platform/flutter/FlutterStandardWriter.h"
#include "tests/support/CodecByteHelpers.h"

namespace {

using harkwell::testing::bytesFromHex;
using harkwell::testing::hexFromBytes;

const FlutterStandardMessageCodec& codec() {
  return FlutterStandardMessageCodec::sharedInstance();
}

// What is at stake: the three size forms switch exactly at 254 and 65536; an
// off-by-one desynchronises the reader for the rest of the message.
TEST(StandardCodecSizeFormTest, ByteListsUseTheMinimalSizeFormAroundEachBoundary) {
  const std::pair<std::size_t, const char*> cases[] = {
      {253, "fd"}, {254, "fe fe 00"}, {65535, "fe ff ff"}, {65536, "ff 00 00 01 00"}};
  for (const auto& [size, sizeHex] : cases) {
    const std::vector<std::uint8_t> payload(size, 0xab);
    const auto encoded = codec().encode(payload);
    const auto prefix = bytesFromHex(std::string("08 ") + sizeHex);
    ASSERT_EQ(encoded.size(), prefix.size() + payload.size()) << size;
    EXPECT_TRUE(std::equal(prefix.begin(), prefix.end(), encoded.begin())) << size;
    const CodecDecodeResult decoded = codec().decode(encoded);
    ASSERT_TRUE(decoded.ok()) << decoded.error;
    EXPECT_TRUE(*decoded.value == CodecValue(payload)) << size;
  }
}

// What is at stake: cutting a valid message anywhere must be detected, since a
// reader that ran past the end would read foreign memory or invent zeros.
TEST(StandardCodecTruncationTest, EveryProperPrefixOfAMessageWithAllTypesFails) {
  const CodecValue everything = CodecList{
      CodecNull{},
      true,
      std::int32_t{-7},
      std::int64_t{1} << 40,
      0.25,
      "h\u263aw",
      std::vector<std::uint8_t>{1, 2},
      std::vector<std::int32_t>{3},
      std::vector<std::int64_t>{4},
      std::vector<double>{5.5},
      std::vector<float>{6.5f},
      CodecMap{{"k", CodecList{0.125, std::string(300, 'x')}}},
  };
  const auto bytes = codec().encode(everything);
  ASSERT_TRUE(codec().decode(bytes).ok());
  for (std::size_t length = 1; length < bytes.size(); ++length) {
    const CodecDecodeResult result = codec().decode(std::span(bytes.data(), length));
    EXPECT_FALSE(result.ok()) << "prefix of " << length << " bytes decoded";
    EXPECT_FALSE(result.error.empty());
  }
}

// What is at stake: nesting depth comes from untrusted bytes; it must be
// bounded so that a small message cannot exhaust the stack.
TEST(StandardCodecNestingTest, DepthIsBoundedAtTheLimitAndAbsurdNestingFailsSafely) {
  const auto nestedLists = [](int depth) {
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < depth; ++i) bytes.insert(bytes.end(), {0x0c, 0x01});
    bytes.push_back(0x00);
    return bytes;
  };
  const int limit = FlutterStandardReader::maxNestingDepth;
  EXPECT_TRUE(codec().decode(nestedLists(limit - 1)).ok());
  const CodecDecodeResult beyond = codec().decode(nestedLists(limit));
  ASSERT_FALSE(beyond.ok());
  EXPECT_NE(beyond.error.find("nested deeper than 64"), std::string::npos) << beyond.error;
  EXPECT_FALSE(codec().decode(nestedLists(1'000'000)).ok());
}

// What is at stake: the audio path writes sample lists through a fast path
// (runs of present values, in blocks); its bytes must equal the generic list
// of doubles wherever the list starts and wherever nulls break the runs.
TEST(StandardWriterTest, ListOfDoublesMatchesTheGenericListAfterAnyPrefix) {
  std::vector<std::vector<std::optional<double>>> cases = {
      {}, {0.5, std::nullopt, -0.25, 1e-300}, {std::nullopt, std::nullopt, 3.0}};
  // Long runs across block and group boundaries, broken by nulls here and there.
  for (const std::size_t length : {63, 64, 65, 130, 257}) {
    std::vector<std::optional<double>> run;
    for (std::size_t i = 0; i < length; ++i) run.emplace_back(static_cast<double>(i) - 0.5);
    cases.push_back(run);
    for (const std::size_t hole : {std::size_t{2}, std::size_t{62}, length - 1}) run[hole].reset();
    cases.push_back(run);
  }
  for (const auto& samples : cases) {
    CodecList generic;
    for (const auto& sample : samples) {
      generic.push_back(sample ? CodecValue(*sample) : CodecValue());
    }
    for (std::size_t prefix = 0; prefix < 9; ++prefix) {
      std::vector<std::uint8_t> fast(prefix, 0x01);
      std::vector<std::uint8_t> slow = fast;
      FlutterStandardWriter(fast).writeListOfDoubles(samples);
      FlutterStandardWriter(slow).writeValue(generic);
      ASSERT_EQ(hexFromBytes(fast), hexFromBytes(slow))
          << samples.size() << " samples after " << prefix << " bytes";
    }
  }
}

}  // namespace
