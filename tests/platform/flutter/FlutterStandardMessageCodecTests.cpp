#include "platform/flutter/FlutterStandardMessageCodec.h"

#include <gtest/gtest.h>

#include "platform/flutter/FlutterStandardWriter.h"

namespace {

const FlutterStandardMessageCodec& codec = FlutterStandardMessageCodec::sharedInstance();

// At stake: the size forms switch exactly at 254 and 65536 (an off-by-one
// desynchronises the reader for the rest of the message); cutting a message
// anywhere is detected, since a reader that ran past the end would read foreign
// memory or invent zeros; nesting from untrusted bytes stops at the limit.
TEST(StandardCodecTest, SizeFormsTruncationAndNestingAreExact) {
  for (const auto& [size, prefix] :
       {std::pair<std::size_t, std::vector<std::uint8_t>>{253, {8, 0xfd}},
        {254, {8, 0xfe, 0xfe, 0}},
        {65535, {8, 0xfe, 0xff, 0xff}},
        {65536, {8, 0xff, 0, 0, 1, 0}}}) {
    const std::vector<std::uint8_t> payload(size, 0xab);
    const auto encoded = codec.encode(payload);
    EXPECT_EQ(std::vector(encoded.begin(), encoded.end() - static_cast<std::ptrdiff_t>(size)),
              prefix);
    const CodecDecodeResult decoded = codec.decode(encoded);
    EXPECT_TRUE(decoded.ok() && *decoded.value == CodecValue(payload)) << size;
  }

  const auto bytes = codec.encode(
      CodecList{CodecNull{}, true, std::int32_t{-7}, std::int64_t{1} << 40, 0.25, "h\u263aw",
                std::vector<std::uint8_t>{1, 2}, std::vector<std::int32_t>{3},
                std::vector<std::int64_t>{4}, std::vector<double>{5.5}, std::vector<float>{6.5f},
                CodecMap{{"k", CodecList{0.125, std::string(300, 'x')}}}});
  ASSERT_TRUE(codec.decode(bytes).ok());
  for (std::size_t length = 1; length < bytes.size(); ++length) {
    const CodecDecodeResult result = codec.decode(std::span(bytes.data(), length));
    EXPECT_FALSE(result.ok() || result.error.empty()) << "prefix of " << length << " bytes";
  }

  const int limit = FlutterStandardReader::maxNestingDepth;
  CodecValue nested;  // null inside `depth` lists
  for (int depth = 0; depth <= limit; ++depth, nested = CodecList{nested}) {
    EXPECT_EQ(codec.decode(codec.encode(nested)).ok(), depth < limit) << depth;
  }
}

// At stake: the audio path writes sample lists through a fast path (runs of
// present values, in blocks of 120); its bytes must equal the generic list of
// doubles wherever the list starts and wherever nulls break the runs.
TEST(StandardWriterTest, ListOfDoublesMatchesTheGenericListAfterAnyPrefix) {
  std::vector<std::vector<std::optional<double>>> cases = {
      {}, {0.5, std::nullopt, -0.25, 1e-300}, {std::nullopt, std::nullopt, 3.0}};
  for (const std::size_t length : {63, 64, 65, 130, 257}) {
    std::vector<std::optional<double>> run;
    for (std::size_t i = 0; i < length; ++i) run.emplace_back(static_cast<double>(i) - 0.5);
    cases.push_back(run);
    for (const std::size_t hole : {std::size_t{2}, std::size_t{62}, length - 1}) run[hole].reset();
    cases.push_back(run);
  }
  for (const auto& samples : cases) {
    CodecList generic;
    for (const auto& sample : samples)
      generic.push_back(sample ? CodecValue(*sample) : CodecValue());
    for (std::size_t prefix = 0; prefix < 9; ++prefix) {
      std::vector<std::uint8_t> fast(prefix, 0x01), slow(prefix, 0x01);
      FlutterStandardWriter(fast).writeListOfDoubles(samples);
      FlutterStandardWriter(slow).writeValue(generic);
      ASSERT_EQ(fast, slow) << samples.size() << " after " << prefix;
    }
  }
}

}  // namespace
