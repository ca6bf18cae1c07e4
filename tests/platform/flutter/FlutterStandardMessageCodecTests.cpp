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
using harkwell::testing::normalizedHex;

const FlutterStandardMessageCodec& codec() {
  return FlutterStandardMessageCodec::sharedInstance();
}

struct GoldenCase {
  const char* name;
  CodecValue value;
  const char* hex;
};

// What is at stake: byte-for-byte agreement with the UI's codec for every
// standard type, in both directions.
class StandardCodecGoldenBytesTest : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(StandardCodecGoldenBytesTest, EncodesToTheGoldenBytesAndDecodesBack) {
  EXPECT_EQ(hexFromBytes(codec().encode(GetParam().value)), normalizedHex(GetParam().hex));
  const CodecDecodeResult result = codec().decode(bytesFromHex(GetParam().hex));
  ASSERT_TRUE(result.ok()) << result.error;
  EXPECT_EQ(result.value->index(), GetParam().value.index());
  EXPECT_TRUE(*result.value == GetParam().value);
}

const GoldenCase goldenCases[] = {
    {"Null", CodecNull{}, "00"},
    {"True", true, "01"},
    {"Int32Min", std::numeric_limits<std::int32_t>::min(), "03 00 00 00 80"},
    {"SmallInt64StaysInt64", std::int64_t{5}, "04 05 00 00 00 00 00 00 00"},
    {"Int64BelowInt32Min", std::int64_t{-2147483649LL}, "04 ff ff ff 7f ff ff ff ff"},
    {"Float64PaddedToEight", 0.5, "06 00 00 00 00 00 00 00 | 00 00 00 00 00 00 e0 3f"},
    {"StringSizeCountsUtf8BytesOfAstralCharacter", "h\U0001F602w", "07 06 68 f0 9f 98 82 77"},
    {"Uint8ListIsNeverPadded", std::vector<std::uint8_t>{1, 2, 255}, "08 03 01 02 ff"},
    {"Int32List", std::vector<std::int32_t>{0x12345678, -1},
     "09 02 00 00 | 78 56 34 12 | ff ff ff ff"},
    {"Int64List", std::vector<std::int64_t>{-2},
     "0a 01 00 00 00 00 00 00 | fe ff ff ff ff ff ff ff"},
    {"Float64List", std::vector<double>{0.5}, "0b 01 00 00 00 00 00 00 | 00 00 00 00 00 00 e0 3f"},
    {"Float32List", std::vector<float>{3.1415920f, 1000.0f},
     "0e 02 00 00 | d8 0f 49 40 | 00 00 7a 44"},
    {"EmptyFloat32ListIsPadded", std::vector<float>{}, "0e 00 00 00"},
    {"DoubleInListAlignsFromMessageStart", CodecList{CodecNull{}, "hello", 0.5},
     "0c 03 00 07 05 68 65 6c 6c 6f | 06 00 00 00 00 00 | 00 00 00 00 00 00 e0 3f"},
    {"Int32ListAfterOddPrefix", CodecList{"a", std::vector<std::int32_t>{7}},
     "0c 02 07 01 61 09 01 00 | 07 00 00 00"},
    {"EmptyTypedListInListStillPads", CodecList{std::vector<std::int64_t>{}, true},
     "0c 02 0a 00 00 00 00 00 01"},
    {"MapKeepsEntryOrderAndAnyKeyType",
     CodecMap{{"a", std::int32_t{1}}, {CodecNull{}, true}, {CodecList{}, CodecMap{}}},
     "0d 03 07 01 61 03 01 00 00 00 | 00 01 | 0c 00 0d 00"},
};

INSTANTIATE_TEST_SUITE_P(AllStandardTypes, StandardCodecGoldenBytesTest,
                         ::testing::ValuesIn(goldenCases),
                         [](const auto& info) { return std::string(info.param.name); });

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

struct MalformedCase {
  const char* name;
  const char* hex;
  const char* errorFragment;  // the message must name what was wrong and where
};

// What is at stake: bytes from the UI side are untrusted; a malformed message
// must fail by itself with a reason, never crash, over-allocate or yield a
// quiet null.
class StandardCodecMalformedInputTest : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(StandardCodecMalformedInputTest, FailsWithAReasonNamingTheProblem) {
  const CodecDecodeResult result = codec().decode(bytesFromHex(GetParam().hex));
  ASSERT_FALSE(result.ok());
  EXPECT_NE(result.error.find(GetParam().errorFragment), std::string::npos) << result.error;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StandardCodecMalformedInputTest,
    ::testing::Values(
        MalformedCase{"TruncatedInt32", "03 01 02",
                      "truncated number (needs 4 bytes, 2 left) at offset 1"},
        MalformedCase{"MissingPaddingOfDouble", "06 00 00",
                      "truncated padding (needs 7 bytes, 2 left) at offset 1"},
        MalformedCase{"TruncatedString", "07 05 61 62",
                      "truncated string (needs 5 bytes, 2 left) at offset 2"},
        MalformedCase{"ByteListLongerThanMessage", "08 ff ff ff ff ff 00", "truncated bytes"},
        MalformedCase{"ListCountBeyondBytesLeft", "0c 03 00 00",
                      "list claims 3 elements but only 2 bytes are left at offset 0"},
        MalformedCase{"MapCountBeyondBytesLeft", "0d 02 00 00 00", "map claims 2 entries"},
        MalformedCase{"CustomTypeWithoutExtension", "80 0c 00", "unknown type byte 0x80"},
        MalformedCase{"UnknownTypeNestedInList", "0c 02 00 7f",
                      "unknown type byte 0x7f at offset 3"},
        MalformedCase{"TrailingByte", "00 00", "1 unused bytes after the message at offset 1"}),
    [](const auto& info) { return std::string(info.param.name); });

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
