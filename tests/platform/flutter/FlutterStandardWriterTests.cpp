#include "platform/flutter/FlutterStandardWriter.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/flutter/FlutterCodecError.h"
#include "platform/flutter/FlutterStandardMessageCodec.h"
#include "platform/flutter/FlutterStandardReaderWriter.h"
#include "tests/support/CodecByteHelpers.h"

namespace {

using harkwell::testing::hexFromBytes;
using harkwell::testing::normalizedHex;

struct WriterTestScale {
  double factor = 0;
  bool operator==(const WriterTestScale&) const = default;
};

// Writes a scale as 0x80 + [factor], through the overridable writeValue.
class ScaleWriter : public FlutterStandardWriter {
 public:
  using FlutterStandardWriter::FlutterStandardWriter;

  void writeValue(const CodecValue& value) override {
    if (const auto* scale = value.custom<WriterTestScale>()) {
      writeByte(0x80);
      writeValue(CodecList{scale->factor});
      return;
    }
    FlutterStandardWriter::writeValue(value);
  }
};

class ScaleReaderWriter : public FlutterStandardReaderWriter {
 public:
  std::unique_ptr<FlutterStandardWriter> writerWithData(
      std::vector<std::uint8_t>& data) const override {
    return std::make_unique<ScaleWriter>(data);
  }
};

const FlutterStandardMessageCodec& scaleCodec() {
  static const auto codec =
      FlutterStandardMessageCodec::codecWithReaderWriter(std::make_shared<ScaleReaderWriter>());
  return *codec;
}

const CodecValue half = CodecCustomValue::make(WriterTestScale{0.5});

// What is at stake: list and map elements must go through the overridable
// writeValue, or records nested in replies would hit the base writer and fail;
// and a custom payload's double aligns from the message start, not the record.
class StandardWriterExtensionTest : public ::testing::Test {};

TEST_F(StandardWriterExtensionTest, WritesCustomValuesNestedInListsAndMaps) {
  const CodecValue message = CodecList{CodecMap{{"k", half}}};
  EXPECT_EQ(
      hexFromBytes(scaleCodec().encode(message)),
      normalizedHex("0c 01 0d 01 07 01 6b | 80 0c 01 06 00 00 00 00 00 00 00 00 00 00 00 e0 3f"));
}

TEST_F(StandardWriterExtensionTest, ValuesTheExtensionDoesNotClaimStillFail) {
  const CodecValue other = CodecCustomValue::make(std::string("unclaimed"));
  EXPECT_THROW(scaleCodec().encode(CodecList{half, other}), FlutterCodecError);
}

// What is at stake: the audio path writes sample lists through this fast path;
// its bytes must equal the generic list of doubles wherever the list starts.
class StandardWriterListOfDoublesTest : public ::testing::TestWithParam<int> {};

TEST_P(StandardWriterListOfDoublesTest, MatchesTheGenericListAfterAnyPrefix) {
  const std::vector<std::optional<double>> samples = {0.5, std::nullopt, -0.25, 1e-300, 0.0};
  CodecList generic;
  for (const auto& sample : samples) generic.push_back(sample ? CodecValue(*sample) : CodecValue());

  std::vector<std::uint8_t> fast(static_cast<std::size_t>(GetParam()), 0x01);
  std::vector<std::uint8_t> slow = fast;
  FlutterStandardWriter(fast).writeListOfDoubles(samples);
  FlutterStandardWriter(slow).writeValue(generic);
  EXPECT_EQ(hexFromBytes(fast), hexFromBytes(slow));

  std::vector<std::uint8_t> emptyFast(static_cast<std::size_t>(GetParam()), 0x01);
  std::vector<std::uint8_t> emptySlow = emptyFast;
  FlutterStandardWriter(emptyFast).writeListOfDoubles({});
  FlutterStandardWriter(emptySlow).writeValue(CodecList{});
  EXPECT_EQ(hexFromBytes(emptyFast), hexFromBytes(emptySlow));
}

INSTANTIATE_TEST_SUITE_P(PrefixLengths, StandardWriterListOfDoublesTest, ::testing::Range(0, 9));

// What is at stake: a size that does not fit the wire must be refused, not
// truncated into a different, valid-looking message.
class StandardWriterSizeLimitTest : public ::testing::Test {};

TEST_F(StandardWriterSizeLimitTest, SizesBeyondThirtyTwoBitsAreRefused) {
  std::vector<std::uint8_t> bytes;
  FlutterStandardWriter writer(bytes);
  writer.writeSize(std::numeric_limits<std::uint32_t>::max());
  EXPECT_EQ(hexFromBytes(bytes), "ff ff ff ff ff");
  EXPECT_THROW(writer.writeSize(std::size_t{1} << 32), FlutterCodecError);
}

}  // namespace
