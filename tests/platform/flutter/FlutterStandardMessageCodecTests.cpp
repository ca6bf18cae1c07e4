#include "platform/flutter/FlutterStandardMessageCodec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "platform/flutter/FlutterCodecError.h"
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
  bool comparableByValue = true;  // false for NaN, which never equals itself
};

// What is at stake: byte-for-byte agreement with the UI's codec for every
// standard type, in both directions.
class StandardCodecGoldenBytesTest : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(StandardCodecGoldenBytesTest, EncodesToTheGoldenBytes) {
  EXPECT_EQ(hexFromBytes(codec().encode(GetParam().value)), normalizedHex(GetParam().hex));
}

TEST_P(StandardCodecGoldenBytesTest, DecodesTheGoldenBytesBackToTheSameValue) {
  const auto bytes = bytesFromHex(GetParam().hex);
  const CodecDecodeResult result = codec().decode(bytes);
  ASSERT_TRUE(result.ok()) << result.error;
  EXPECT_EQ(result.value->index(), GetParam().value.index());
  if (GetParam().comparableByValue) {
    EXPECT_TRUE(*result.value == GetParam().value);
  }
  EXPECT_EQ(hexFromBytes(codec().encode(*result.value)), hexFromBytes(bytes));
}

const GoldenCase goldenCases[] = {
    {"Null", CodecNull{}, "00"},
    {"True", true, "01"},
    {"False", false, "02"},
    {"Int32Zero", std::int32_t{0}, "03 00 00 00 00"},
    {"Int32Min", std::numeric_limits<std::int32_t>::min(), "03 00 00 00 80"},
    {"Int32Max", std::numeric_limits<std::int32_t>::max(), "03 ff ff ff 7f"},
    {"SmallInt64StaysInt64", std::int64_t{5}, "04 05 00 00 00 00 00 00 00"},
    {"Int64BelowInt32Min", std::int64_t{-2147483649LL}, "04 ff ff ff 7f ff ff ff ff"},
    {"Int64AboveInt32Max", std::int64_t{2147483648LL}, "04 00 00 00 80 00 00 00 00"},
    {"Float64PaddedToEight", 0.5, "06 00 00 00 00 00 00 00 | 00 00 00 00 00 00 e0 3f"},
    {"Float64NegativeZero", -0.0, "06 00 00 00 00 00 00 00 | 00 00 00 00 00 00 00 80"},
    {"Float64NaN", std::numeric_limits<double>::quiet_NaN(),
     "06 00 00 00 00 00 00 00 | 00 00 00 00 00 00 f8 7f", false},
    {"Float64Infinity", std::numeric_limits<double>::infinity(),
     "06 00 00 00 00 00 00 00 | 00 00 00 00 00 00 f0 7f"},
    {"EmptyString", std::string(), "07 00"},
    {"AsciiString", "hello", "07 05 68 65 6c 6c 6f"},
    {"StringSizeCountsUtf8BytesOfBmpCharacter", "h\u263aw", "07 05 68 e2 98 ba 77"},
    {"StringSizeCountsUtf8BytesOfAstralCharacter", "h\U0001F602w", "07 06 68 f0 9f 98 82 77"},
    {"Uint8ListIsNeverPadded", std::vector<std::uint8_t>{1, 2, 255}, "08 03 01 02 ff"},
    {"Int32List", std::vector<std::int32_t>{0x12345678, -1, 0},
     "09 03 00 00 | 78 56 34 12 | ff ff ff ff | 00 00 00 00"},
    {"Int64List", std::vector<std::int64_t>{-2},
     "0a 01 00 00 00 00 00 00 | fe ff ff ff ff ff ff ff"},
    {"Float64List", std::vector<double>{0.5}, "0b 01 00 00 00 00 00 00 | 00 00 00 00 00 00 e0 3f"},
    {"Float32List", std::vector<float>{3.1415920f, 1000.0f},
     "0e 02 00 00 | d8 0f 49 40 | 00 00 7a 44"},
    {"EmptyInt32ListIsPadded", std::vector<std::int32_t>{}, "09 00 00 00"},
    {"EmptyInt64ListIsPadded", std::vector<std::int64_t>{}, "0a 00 00 00 00 00 00 00"},
    {"EmptyFloat64ListIsPadded", std::vector<double>{}, "0b 00 00 00 00 00 00 00"},
    {"EmptyFloat32ListIsPadded", std::vector<float>{}, "0e 00 00 00"},
    {"EmptyList", CodecList{}, "0c 00"},
    {"DoubleInListAlignsFromMessageStart", CodecList{CodecNull{}, "hello", 0.5},
     "0c 03 00 07 05 68 65 6c 6c 6f | 06 00 00 00 00 00 | 00 00 00 00 00 00 e0 3f"},
    {"TypedListInListAlignsFromMessageStart", CodecList{true, std::vector<double>{0.5}},
     "0c 02 01 0b 01 00 00 00 | 00 00 00 00 00 00 e0 3f"},
    {"Int32ListAfterOddPrefix", CodecList{"a", std::vector<std::int32_t>{7}},
     "0c 02 07 01 61 09 01 00 | 07 00 00 00"},
    {"EmptyTypedListInListStillPads", CodecList{std::vector<std::int64_t>{}, true},
     "0c 02 0a 00 00 00 00 00 01"},
    {"ListOfDoublesIsGenericNotTyped", CodecList{0.5, -0.25},
     "0c 02 06 00 00 00 00 00 | 00 00 00 00 00 00 e0 3f | 06 00 00 00 00 00 00 00 | "
     "00 00 00 00 00 00 d0 bf"},
    {"MapKeepsEntryOrderAndAnyKeyType",
     CodecMap{{"a", std::int32_t{1}}, {CodecNull{}, true}, {CodecList{}, CodecMap{}}},
     "0d 03 07 01 61 03 01 00 00 00 | 00 01 | 0c 00 0d 00"},
};

INSTANTIATE_TEST_SUITE_P(AllStandardTypes, StandardCodecGoldenBytesTest,
                         ::testing::ValuesIn(goldenCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct SizeCase {
  std::size_t size;
  const char* sizeHex;
};

// What is at stake: the three size forms switch exactly at 254 and 65536; an
// off-by-one desynchronises the reader for the rest of the message.
class StandardCodecSizeFormTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(StandardCodecSizeFormTest, ByteListUsesTheMinimalSizeForm) {
  const std::vector<std::uint8_t> payload(GetParam().size, 0xab);
  const auto encoded = codec().encode(payload);
  const auto prefix = bytesFromHex(std::string("08 ") + GetParam().sizeHex);
  ASSERT_EQ(encoded.size(), prefix.size() + payload.size());
  EXPECT_EQ(hexFromBytes({encoded.begin(), encoded.begin() + static_cast<long>(prefix.size())}),
            hexFromBytes(prefix));
  const CodecDecodeResult decoded = codec().decode(encoded);
  ASSERT_TRUE(decoded.ok()) << decoded.error;
  EXPECT_TRUE(*decoded.value == CodecValue(payload));
}

TEST_P(StandardCodecSizeFormTest, ListCountUsesTheSameSizeForms) {
  const CodecList list(GetParam().size, CodecValue(true));
  const auto encoded = codec().encode(list);
  const auto prefix = bytesFromHex(std::string("0c ") + GetParam().sizeHex);
  ASSERT_EQ(encoded.size(), prefix.size() + list.size());
  EXPECT_TRUE(std::equal(prefix.begin(), prefix.end(), encoded.begin()));
  const CodecDecodeResult decoded = codec().decode(encoded);
  ASSERT_TRUE(decoded.ok()) << decoded.error;
  EXPECT_EQ(decoded.value->getIf<CodecList>()->size(), GetParam().size);
}

INSTANTIATE_TEST_SUITE_P(Boundaries, StandardCodecSizeFormTest,
                         ::testing::Values(SizeCase{0, "00"}, SizeCase{253, "fd"},
                                           SizeCase{254, "fe fe 00"}, SizeCase{255, "fe ff 00"},
                                           SizeCase{65535, "fe ff ff"},
                                           SizeCase{65536, "ff 00 00 01 00"}));

// What is at stake: inputs the other codecs produce and accept must decode, so
// that a legitimate message is never rejected.
class StandardCodecLenientDecodingTest : public ::testing::Test {};

TEST_F(StandardCodecLenientDecodingTest, ZeroBytesDecodeToNull) {
  const CodecDecodeResult result = codec().decode({});
  ASSERT_TRUE(result.ok());
  EXPECT_TRUE(result.value->isNull());
}

TEST_F(StandardCodecLenientDecodingTest, NonMinimalSizeFormsAreAccepted) {
  for (const char* hex : {"07 fe 01 00 61", "07 ff 01 00 00 00 61"}) {
    const CodecDecodeResult result = codec().decode(bytesFromHex(hex));
    ASSERT_TRUE(result.ok()) << hex << ": " << result.error;
    EXPECT_TRUE(*result.value == CodecValue("a")) << hex;
  }
}

TEST_F(StandardCodecLenientDecodingTest, LegacyLargeIntDecodesToItsHexText) {
  const CodecDecodeResult result = codec().decode(bytesFromHex("05 02 31 66"));
  ASSERT_TRUE(result.ok()) << result.error;
  EXPECT_TRUE(*result.value == CodecValue("1f"));
}

TEST_F(StandardCodecLenientDecodingTest, PaddingBytesAreSkippedWhateverTheyHold) {
  const CodecDecodeResult result =
      codec().decode(bytesFromHex("06 11 22 33 44 55 66 77 | 00 00 00 00 00 00 e0 3f"));
  ASSERT_TRUE(result.ok()) << result.error;
  EXPECT_TRUE(*result.value == CodecValue(0.5));
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
        MalformedCase{"TruncatedInt64", "04 01 02 03 04 05 06 07", "truncated number"},
        MalformedCase{"MissingPaddingOfDouble", "06 00 00",
                      "truncated padding (needs 7 bytes, 2 left) at offset 1"},
        MalformedCase{"TruncatedDoubleAfterPadding", "06 00 00 00 00 00 00 00 00",
                      "truncated number (needs 8 bytes, 1 left) at offset 8"},
        MalformedCase{"TruncatedString", "07 05 61 62",
                      "truncated string (needs 5 bytes, 2 left) at offset 2"},
        MalformedCase{"TruncatedThreeByteSize", "07 fe 01",
                      "truncated number (needs 2 bytes, 1 left) at offset 2"},
        MalformedCase{"TruncatedFiveByteSize", "08 ff 01 00", "truncated number"},
        MalformedCase{"ByteListLongerThanMessage", "08 ff ff ff ff ff 00", "truncated bytes"},
        MalformedCase{"ListCountBeyondBytesLeft", "0c 03 00 00",
                      "list claims 3 elements but only 2 bytes are left at offset 0"},
        MalformedCase{"HugeListCount", "0c ff ff ff ff ff 00", "list claims 4294967295"},
        MalformedCase{"HugeInt32ListCount", "09 ff ff ff ff ff 00 00 00",
                      "int32 list claims 4294967295"},
        MalformedCase{"HugeFloat64ListCount", "0b fe ff ff 00 00 00 00 | 00 00 00 00 00 00 00 00",
                      "float64 list claims 65535"},
        MalformedCase{"MissingPaddingOfTypedList", "0a 01 00", "truncated padding"},
        MalformedCase{"MapCountBeyondBytesLeft", "0d 02 00 00 00", "map claims 2 entries"},
        MalformedCase{"ReservedTypeByte", "0f", "unknown type byte 0x0f at offset 0"},
        MalformedCase{"CustomTypeWithoutExtension", "80 0c 00", "unknown type byte 0x80"},
        MalformedCase{"UnknownTypeNestedInList", "0c 02 00 7f",
                      "unknown type byte 0x7f at offset 3"},
        MalformedCase{"MapWithTruncatedValue", "0d 01 00 07 05 61", "truncated string"},
        MalformedCase{"TrailingByte", "00 00", "1 unused bytes after the message at offset 1"},
        MalformedCase{"TrailingBytesAfterList", "0c 01 01 02 02", "2 unused bytes"}),
    [](const auto& info) { return std::string(info.param.name); });

// What is at stake: cutting a valid message anywhere must be detected, since a
// reader that ran past the end would read foreign memory or invent zeros.
class StandardCodecTruncationTest : public ::testing::Test {};

TEST_F(StandardCodecTruncationTest, EveryProperPrefixOfAMessageWithAllTypesFails) {
  const CodecValue everything = CodecList{
      CodecNull{},
      true,
      false,
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

std::vector<std::uint8_t> nestedLists(int depth) {
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < depth; ++i) {
    bytes.push_back(0x0c);
    bytes.push_back(0x01);
  }
  bytes.push_back(0x00);
  return bytes;
}

// What is at stake: nesting depth comes from untrusted bytes; it must be
// bounded so that a small message cannot exhaust the stack.
class StandardCodecNestingTest : public ::testing::Test {};

TEST_F(StandardCodecNestingTest, ValuesUpToTheDepthLimitDecode) {
  const CodecDecodeResult result =
      codec().decode(nestedLists(FlutterStandardReader::maxNestingDepth - 1));
  EXPECT_TRUE(result.ok()) << result.error;
}

TEST_F(StandardCodecNestingTest, OneLevelBeyondTheLimitFails) {
  const CodecDecodeResult result =
      codec().decode(nestedLists(FlutterStandardReader::maxNestingDepth));
  ASSERT_FALSE(result.ok());
  EXPECT_NE(result.error.find("nested deeper than 64"), std::string::npos) << result.error;
}

TEST_F(StandardCodecNestingTest, AbsurdNestingFailsWithoutExhaustingTheStack) {
  EXPECT_FALSE(codec().decode(nestedLists(1'000'000)).ok());
}

// What is at stake: the base codec has no encoding for custom values; writing
// one must be an error, not a silent null that the UI would misread.
class StandardCodecEncodeFailureTest : public ::testing::Test {};

TEST_F(StandardCodecEncodeFailureTest, CustomValueWithoutAWriterThrows) {
  const CodecValue list = CodecList{std::int32_t{1}, CodecCustomValue::make(std::string("x"))};
  EXPECT_THROW(codec().encode(list), FlutterCodecError);
}

}  // namespace
