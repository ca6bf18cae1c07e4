#include "platform/flutter/FlutterStandardReader.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "platform/flutter/FlutterCodecError.h"
#include "platform/flutter/FlutterStandardMessageCodec.h"
#include "platform/flutter/FlutterStandardReaderWriter.h"
#include "tests/support/CodecByteHelpers.h"

namespace {

using harkwell::testing::bytesFromHex;

struct ReaderTestPoint {
  std::int64_t x = 0;
  std::int64_t y = 0;
  bool operator==(const ReaderTestPoint&) const = default;
};

// 0x80 + [x, y] is a point; 0x81 makes the reader throw a non-codec error and
// 0x82 a non-std exception, as a careless extension might.
class PointReader : public FlutterStandardReader {
 public:
  using FlutterStandardReader::FlutterStandardReader;

  CodecValue readValueOfType(std::uint8_t type) override {
    switch (type) {
      case 0x80: {
        const CodecValue fields = readValue();
        const auto* list = fields.getIf<CodecList>();
        if (list == nullptr || list->size() != 2) fail("malformed point", offset());
        return CodecCustomValue::make(
            ReaderTestPoint{*(*list)[0].asInteger(), *(*list)[1].asInteger()});
      }
      case 0x81:
        throw std::runtime_error("extension gave up");
      case 0x82:
        throw 42;
      default:
        return FlutterStandardReader::readValueOfType(type);
    }
  }
};

class PointReaderWriter : public FlutterStandardReaderWriter {
 public:
  std::unique_ptr<FlutterStandardReader> readerWithData(
      std::span<const std::uint8_t> data) const override {
    return std::make_unique<PointReader>(data);
  }
};

const FlutterStandardMessageCodec& pointCodec() {
  static const auto codec =
      FlutterStandardMessageCodec::codecWithReaderWriter(std::make_shared<PointReaderWriter>());
  return *codec;
}

const CodecValue point12 = CodecCustomValue::make(ReaderTestPoint{1, 2});

// What is at stake: an extension must see its type bytes at every depth, or
// records nested in lists and maps would be rejected as unknown types.
class StandardReaderExtensionTest : public ::testing::Test {};

TEST_F(StandardReaderExtensionTest, ReadsACustomValueAtTheTopLevel) {
  const CodecDecodeResult result =
      pointCodec().decode(bytesFromHex("80 0c 02 03 01 00 00 00 04 02 00 00 00 00 00 00 00"));
  ASSERT_TRUE(result.ok()) << result.error;
  EXPECT_TRUE(*result.value == point12);
}

TEST_F(StandardReaderExtensionTest, ReadsCustomValuesNestedInListsAndMaps) {
  // {point: [point]}
  const CodecDecodeResult result =
      pointCodec().decode(bytesFromHex("0d 01 | 80 0c 02 03 01 00 00 00 03 02 00 00 00 | 0c 01 80 "
                                       "0c 02 03 01 00 00 00 03 02 00 00 00"));
  ASSERT_TRUE(result.ok()) << result.error;
  EXPECT_TRUE(*result.value == CodecValue(CodecMap{{point12, CodecList{point12}}}));
}

TEST_F(StandardReaderExtensionTest, TypeBytesTheExtensionDefersStayUnknown) {
  const CodecDecodeResult result = pointCodec().decode(bytesFromHex("0c 01 83"));
  ASSERT_FALSE(result.ok());
  EXPECT_NE(result.error.find("unknown type byte 0x83 at offset 2"), std::string::npos)
      << result.error;
}

TEST_F(StandardReaderExtensionTest, AnExtensionsOwnFailureFailsTheMessage) {
  const CodecDecodeResult result = pointCodec().decode(bytesFromHex("80 0c 01 00"));
  ASSERT_FALSE(result.ok());
  EXPECT_NE(result.error.find("malformed point"), std::string::npos) << result.error;
}

TEST_F(StandardReaderExtensionTest, AnyExceptionFromAnExtensionBecomesAFailedResult) {
  EXPECT_EQ(pointCodec().decode(bytesFromHex("0c 01 81")).error, "extension gave up");
  EXPECT_FALSE(pointCodec().decode(bytesFromHex("82")).ok());
}

// What is at stake: the building blocks extensions use must count alignment
// from the message start and refuse to run past the end.
class StandardReaderPrimitivesTest : public ::testing::Test {};

TEST_F(StandardReaderPrimitivesTest, AlignmentCountsFromTheStartOfTheMessage) {
  const auto bytes = bytesFromHex("01 02 03 00 00 00 00 00 09");
  FlutterStandardReader reader(bytes);
  reader.readBytes(3);
  reader.readAlignment(8);
  EXPECT_EQ(reader.offset(), 8u);
  EXPECT_EQ(reader.readByte(), 0x09);
  EXPECT_FALSE(reader.hasMore());
}

TEST_F(StandardReaderPrimitivesTest, ReadingPastTheEndThrowsAndLeavesThePositionAlone) {
  const auto bytes = bytesFromHex("05 01");
  FlutterStandardReader reader(bytes);
  EXPECT_THROW(reader.readBytes(3), FlutterCodecError);
  EXPECT_EQ(reader.offset(), 0u);
  EXPECT_EQ(reader.readSize(), 5u);
}

}  // namespace
