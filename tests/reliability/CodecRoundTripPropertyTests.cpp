#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "bridge/AudioDevice.h"
#include "bridge/AudioPermission.h"
#include "bridge/BridgeFlutterApiCodec.h"
#include "bridge/BridgeHostApiCodec.h"
#include "platform/flutter/FlutterStandardMessageCodec.h"
#include "tests/support/CodecByteHelpers.h"

namespace harkwell::test {
namespace {

// Which records a generated value may hold: those its codec knows.
enum class RecordSet { none, hostRecords, eventRecords };

// Random codec values of every type, nested up to a depth, from a seeded
// engine, so a failing case reproduces from its seed and index. Doubles
// include the edge values (NaN, infinities, -0, denormals) and random bits;
// strings are arbitrary bytes; sizes now and then cross the 254 and 65536
// size forms. Thread affinity: one thread.
class RandomCodecValue {
 public:
  RandomCodecValue(std::uint64_t seed, RecordSet records) : engine_(seed), records_(records) {}

  CodecValue next(int depth = 4) {
    const int kind = uniform(0, depth > 0 ? 14 : 11);
    if (kind == 0) return CodecValue();
    if (kind == 1) return CodecValue(uniform(0, 1) == 1);
    if (kind == 2) return CodecValue(static_cast<std::int32_t>(engine_()));
    if (kind == 3) return CodecValue(static_cast<std::int64_t>(engine_()));
    if (kind == 4) return CodecValue(nextDouble());
    if (kind == 5) return CodecValue(nextString());
    if (kind == 6) return CodecValue(nextVector<std::uint8_t>());
    if (kind == 7) return CodecValue(nextVector<std::int32_t>());
    if (kind == 8) return CodecValue(nextVector<std::int64_t>());
    if (kind == 9) return CodecValue(nextBits<float, std::uint32_t>(nextSize()));
    if (kind == 10) return CodecValue(nextBits<double, std::uint64_t>(nextSize()));
    if (kind == 11) return nextRecord();
    // Containers cross only the first size boundary, and only just above the
    // leaves, so that a case stays small.
    const std::size_t size =
        depth == 1 && uniform(0, 40) == 0 ? 253 + uniform(0, 2) : uniform(0, kind == 12 ? 8 : 6);
    if (kind == 12) {
      CodecList list(size);
      for (CodecValue& element : list) element = next(depth - 1);
      return CodecValue(std::move(list));
    }
    CodecMap map(kind == 13 ? size : 0);
    for (auto& [key, value] : map) {
      key = next(depth - 1);
      value = next(depth - 1);
    }
    // A record inside a list inside a map: where the writer must recurse.
    if (kind == 14) map.emplace_back("records", CodecList{nextRecord(), nextRecord()});
    return CodecValue(std::move(map));
  }

 private:
  int uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(engine_); }

  // Mostly short; sometimes at or across a size-form boundary.
  std::size_t nextSize() {
    const int pick = uniform(0, 40);
    if (pick == 0) return 253 + uniform(0, 2);
    if (pick == 1) return 65535 + uniform(0, 1);
    return uniform(0, 12);
  }

  double nextDouble() {
    using limits = std::numeric_limits<double>;
    static constexpr double edges[] = {0.0,
                                       -0.0,
                                       1.0,
                                       limits::quiet_NaN(),
                                       limits::infinity(),
                                       -limits::infinity(),
                                       limits::denorm_min(),
                                       limits::max()};
    if (uniform(0, 4) == 0) return edges[uniform(0, std::size(edges) - 1)];
    return nextBits<double, std::uint64_t>(1)[0];
  }

  // Floating-point values from random bits: every NaN payload and denormal.
  template <class T, class Bits>
  std::vector<T> nextBits(std::size_t count) {
    std::vector<T> values(count);
    for (T& value : values) {
      const auto bits = static_cast<Bits>(engine_());
      std::memcpy(&value, &bits, sizeof(value));
    }
    return values;
  }

  template <class T>
  std::vector<T> nextVector() {
    std::vector<T> values(nextSize());
    for (T& value : values) value = static_cast<T>(engine_());
    return values;
  }

  std::string nextString() {
    std::string text(nextSize(), '\0');
    for (char& c : text) c = static_cast<char>(uniform(0, 255));
    return text;
  }

  CodecValue nextRecord() {
    const auto type = [this] { return static_cast<AudioDeviceType>(uniform(0, 1)); };
    if (records_ == RecordSet::none) return CodecValue(nextString());
    if (records_ == RecordSet::hostRecords && uniform(0, 1) == 0) {
      return CodecCustomValue::make(
          AudioDevice{nextString(), type(), nextString(), uniform(0, 1) == 1});
    }
    if (records_ == RecordSet::hostRecords) {
      return CodecCustomValue::make(AudioPermission{uniform(0, 1) == 1, uniform(0, 1) == 1});
    }
    NativeAudioEvent event{nextString(), type(), static_cast<NativeAudioEventType>(uniform(0, 5)),
                           std::nullopt, std::nullopt};
    if (uniform(0, 1) == 1) {
      event.audioData.emplace(nextSize());
      for (auto& sample : *event.audioData) {
        if (uniform(0, 9) != 0) sample = nextDouble();
      }
    }
    if (uniform(0, 1) == 1) event.error = nextString();
    return CodecCustomValue::make(std::move(event));
  }

  std::mt19937_64 engine_;
  RecordSet records_;
};

constexpr std::uint64_t seed = 0x4861726b77656c6cULL;  // fixed: failures reproduce
constexpr int casesPerCodec = 3000;

template <class T>
bool sameBits(const T& a, const T& b) {
  return std::memcmp(&a, &b, sizeof(T)) == 0;
}

template <class T>
bool sameBits(const std::vector<T>& a, const std::vector<T>& b) {
  // An empty vector may have no storage at all: memcmp must not see its null.
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

// Equality that tells NaN payloads and -0 apart: a codec must carry the exact
// bits, which operator== on doubles cannot check.
bool sameValue(const CodecValue& a, const CodecValue& b) {
  if (a.index() != b.index()) return false;
  if (auto* x = a.getIf<double>()) return sameBits(*x, *b.getIf<double>());
  if (auto* x = a.getIf<std::vector<double>>())
    return sameBits(*x, *b.getIf<std::vector<double>>());
  if (auto* x = a.getIf<std::vector<float>>()) return sameBits(*x, *b.getIf<std::vector<float>>());
  bool same = true;
  if (auto* x = a.getIf<CodecList>()) {
    const auto& y = *b.getIf<CodecList>();
    same = x->size() == y.size();
    for (std::size_t i = 0; same && i < x->size(); ++i) same = sameValue((*x)[i], y[i]);
  } else if (auto* x = a.getIf<CodecMap>()) {
    const auto& y = *b.getIf<CodecMap>();
    same = x->size() == y.size();
    for (std::size_t i = 0; same && i < x->size(); ++i) {
      same = sameValue((*x)[i].first, y[i].first) && sameValue((*x)[i].second, y[i].second);
    }
  } else if (auto* x = a.custom<NativeAudioEvent>()) {
    auto* y = b.custom<NativeAudioEvent>();
    same = y && x->id == y->id && x->type == y->type && x->eventType == y->eventType &&
           x->error == y->error && x->audioData.has_value() == y->audioData.has_value() &&
           (!x->audioData || x->audioData->size() == y->audioData->size());
    for (std::size_t i = 0; same && x->audioData && i < x->audioData->size(); ++i) {
      const auto &p = (*x->audioData)[i], &q = (*y->audioData)[i];
      same = p.has_value() == q.has_value() && (!p || sameBits(*p, *q));
    }
  } else {
    same = a == b;
  }
  return same;
}

struct CodecUnderTest {
  const char* name;
  const FlutterMessageCodec* codec;
  RecordSet records;
};

// At stake: whatever the host writes, the UI side reads back exactly (every
// type, every nesting, every record, bit-exact floats), and the same value is
// always written as the same bytes, also after a round trip.
class CodecRoundTripPropertyTest : public ::testing::TestWithParam<CodecUnderTest> {};

TEST_P(CodecRoundTripPropertyTest, DecodingGivesBackTheValueAndReencodingTheSameBytes) {
  const FlutterMessageCodec& codec = *GetParam().codec;
  RandomCodecValue random(seed, GetParam().records);
  for (int i = 0; i < casesPerCodec; ++i) {
    const CodecValue value = random.next();
    const std::vector<std::uint8_t> bytes = codec.encode(value);
    ASSERT_EQ(codec.encode(value), bytes) << "case " << i;
    const CodecDecodeResult decoded = codec.decode(bytes);
    ASSERT_TRUE(decoded.ok()) << "case " << i << ": " << decoded.error;
    ASSERT_TRUE(sameValue(*decoded.value, value))
        << "case " << i << " changed in a round trip; bytes: "
        << harkwell::testing::hexFromBytes(bytes).substr(0, 300);
    ASSERT_EQ(codec.encode(*decoded.value), bytes) << "case " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    AllCodecs, CodecRoundTripPropertyTest,
    ::testing::Values(
        CodecUnderTest{"standard", &FlutterStandardMessageCodec::sharedInstance(), RecordSet::none},
        CodecUnderTest{"host", &BridgeHostApiCodec::shared(), RecordSet::hostRecords},
        CodecUnderTest{"event", &BridgeFlutterApiCodec::shared(), RecordSet::eventRecords}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace harkwell::test
