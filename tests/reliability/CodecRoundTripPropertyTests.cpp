#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bridge/BridgeFlutterApiCodec.h"
#include "bridge/BridgeHostApiCodec.h"
#include "platform/flutter/FlutterStandardMessageCodec.h"
#include "tests/reliability/RandomCodecValue.h"
#include "tests/support/CodecByteHelpers.h"

namespace harkwell::test {
namespace {

constexpr std::uint64_t seed = 0x4861726b77656c6cULL;  // fixed: failures reproduce
constexpr int casesPerCodec = 3000;

template <class T>
bool sameBits(const T& a, const T& b) {
  return std::memcmp(&a, &b, sizeof(T)) == 0;
}

bool sameValue(const CodecValue& a, const CodecValue& b);

bool sameSamples(const std::optional<std::vector<std::optional<double>>>& a,
                 const std::optional<std::vector<std::optional<double>>>& b) {
  if (a.has_value() != b.has_value()) return false;
  if (!a) return true;
  if (a->size() != b->size()) return false;
  for (std::size_t i = 0; i < a->size(); ++i) {
    if ((*a)[i].has_value() != (*b)[i].has_value()) return false;
    if ((*a)[i] && !sameBits(*(*a)[i], *(*b)[i])) return false;
  }
  return true;
}

// Equality that tells NaN payloads and -0 apart: a codec must carry the exact
// bits, which operator== on doubles cannot check.
bool sameValue(const CodecValue& a, const CodecValue& b) {
  if (a.index() != b.index()) return false;
  if (auto* x = a.getIf<double>()) return sameBits(*x, *b.getIf<double>());
  if (auto* x = a.getIf<std::vector<double>>()) {
    const auto& y = *b.getIf<std::vector<double>>();
    return x->size() == y.size() && std::memcmp(x->data(), y.data(), x->size() * 8) == 0;
  }
  if (auto* x = a.getIf<std::vector<float>>()) {
    const auto& y = *b.getIf<std::vector<float>>();
    return x->size() == y.size() && std::memcmp(x->data(), y.data(), x->size() * 4) == 0;
  }
  if (auto* x = a.getIf<CodecList>()) {
    const auto& y = *b.getIf<CodecList>();
    if (x->size() != y.size()) return false;
    for (std::size_t i = 0; i < x->size(); ++i) {
      if (!sameValue((*x)[i], y[i])) return false;
    }
    return true;
  }
  if (auto* x = a.getIf<CodecMap>()) {
    const auto& y = *b.getIf<CodecMap>();
    if (x->size() != y.size()) return false;
    for (std::size_t i = 0; i < x->size(); ++i) {
      if (!sameValue((*x)[i].first, y[i].first) || !sameValue((*x)[i].second, y[i].second)) {
        return false;
      }
    }
    return true;
  }
  if (auto* x = a.custom<NativeAudioEvent>()) {
    auto* y = b.custom<NativeAudioEvent>();
    return y != nullptr && x->id == y->id && x->type == y->type && x->eventType == y->eventType &&
           x->error == y->error && sameSamples(x->audioData, y->audioData);
  }
  return a == b;
}

struct CodecUnderTest {
  const char* name;
  const FlutterMessageCodec& (*codec)();
  RecordSet records;
};

// At stake: whatever the host writes, the UI side reads back exactly (every
// type, every nesting, every record, bit-exact floats), and the same value is
// always written as the same bytes.
class CodecRoundTripPropertyTest : public ::testing::TestWithParam<CodecUnderTest> {};

TEST_P(CodecRoundTripPropertyTest, DecodingAnEncodedValueGivesBackTheSameValue) {
  const CodecUnderTest& param = GetParam();
  RandomCodecValue random(seed, param.records);
  for (int i = 0; i < casesPerCodec; ++i) {
    const CodecValue value = random.next();
    const std::vector<std::uint8_t> bytes = param.codec().encode(value);
    const CodecDecodeResult decoded = param.codec().decode(bytes);
    ASSERT_TRUE(decoded.ok()) << "case " << i << ": " << decoded.error;
    ASSERT_TRUE(sameValue(*decoded.value, value))
        << "case " << i << " changed in a round trip; bytes: "
        << harkwell::testing::hexFromBytes(bytes).substr(0, 300);
  }
}

TEST_P(CodecRoundTripPropertyTest, EncodingIsDeterministicAndStableAcrossRoundTrips) {
  const CodecUnderTest& param = GetParam();
  RandomCodecValue random(seed + 1, param.records);
  for (int i = 0; i < casesPerCodec; ++i) {
    const CodecValue value = random.next();
    const std::vector<std::uint8_t> bytes = param.codec().encode(value);
    ASSERT_EQ(param.codec().encode(value), bytes) << "case " << i;
    const CodecDecodeResult decoded = param.codec().decode(bytes);
    ASSERT_TRUE(decoded.ok()) << "case " << i << ": " << decoded.error;
    ASSERT_EQ(param.codec().encode(*decoded.value), bytes) << "case " << i;
  }
}

const FlutterMessageCodec& standardCodec() {
  return FlutterStandardMessageCodec::sharedInstance();
}
const FlutterMessageCodec& hostCodec() {
  return BridgeHostApiCodec::shared();
}
const FlutterMessageCodec& eventCodec() {
  return BridgeFlutterApiCodec::shared();
}

INSTANTIATE_TEST_SUITE_P(
    AllCodecs, CodecRoundTripPropertyTest,
    ::testing::Values(CodecUnderTest{"standard", standardCodec, RecordSet::none},
                      CodecUnderTest{"host", hostCodec, RecordSet::hostRecords},
                      CodecUnderTest{"event", eventCodec, RecordSet::eventRecords}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace harkwell::test
