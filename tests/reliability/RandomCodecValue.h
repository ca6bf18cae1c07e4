#pragma once

#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "bridge/AudioDevice.h"
#include "bridge/AudioPermission.h"
#include "bridge/NativeAudioEvent.h"
#include "platform/flutter/CodecValue.h"

namespace harkwell::test {

// Which records a generated value may hold: those its codec knows.
enum class RecordSet { none, hostRecords, eventRecords };

// Random codec values of every type, nested up to a depth, from a seeded
// engine, so a failing case reproduces from its seed and index. Doubles
// include the edge values (NaN, infinities, -0, denormals); strings are
// arbitrary bytes; sizes now and then cross the 254 and 65536 size forms.
// Thread affinity: one thread.
class RandomCodecValue {
 public:
  RandomCodecValue(std::uint64_t seed, RecordSet records) : engine_(seed), records_(records) {}

  CodecValue next(int depth = 4) {
    const int kinds = depth > 0 ? 15 : 12;
    switch (uniform(0, kinds - 1)) {
      case 0:
        return CodecValue();
      case 1:
        return CodecValue(uniform(0, 1) == 1);
      case 2:
        return CodecValue(static_cast<std::int32_t>(engine_()));
      case 3:
        return CodecValue(static_cast<std::int64_t>(engine_()));
      case 4:
        return CodecValue(nextDouble());
      case 5:
        return CodecValue(nextString());
      case 6:
        return CodecValue(nextVector<std::uint8_t>());
      case 7:
        return CodecValue(nextVector<std::int32_t>());
      case 8:
        return CodecValue(nextVector<std::int64_t>());
      case 9:
        return CodecValue(nextFloats());
      case 10: {
        std::vector<double> values(nextSize());
        for (double& value : values) value = nextDouble();
        return CodecValue(std::move(values));
      }
      case 11:
        return nextRecord();
      case 12: {
        CodecList list(nextContainerSize(depth, 8));
        for (CodecValue& element : list) element = next(depth - 1);
        return CodecValue(std::move(list));
      }
      case 13: {
        CodecMap map(nextContainerSize(depth, 6));
        for (auto& [key, value] : map) {
          key = next(depth - 1);
          value = next(depth - 1);
        }
        return CodecValue(std::move(map));
      }
      default: {
        // A record inside a list inside a map: where the writer must recurse.
        CodecMap map;
        map.emplace_back(CodecValue("records"), CodecValue(CodecList{nextRecord(), nextRecord()}));
        return CodecValue(std::move(map));
      }
    }
  }

 private:
  int uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(engine_); }

  // Mostly short; sometimes at or across a size-form boundary.
  std::size_t nextSize(std::size_t usual = 12) {
    switch (uniform(0, 40)) {
      case 0:
        return 253 + static_cast<std::size_t>(uniform(0, 2));
      case 1:
        return 65535 + static_cast<std::size_t>(uniform(0, 1));
      default:
        return static_cast<std::size_t>(uniform(0, static_cast<int>(usual)));
    }
  }

  // Containers cross only the first size boundary, and only just above the
  // leaves, so that a case stays small.
  std::size_t nextContainerSize(int depth, std::size_t usual) {
    if (depth == 1 && uniform(0, 40) == 0) return 253 + static_cast<std::size_t>(uniform(0, 2));
    return static_cast<std::size_t>(uniform(0, static_cast<int>(usual)));
  }

  double nextDouble() {
    static constexpr double edges[] = {0.0,
                                       -0.0,
                                       1.0,
                                       std::numeric_limits<double>::quiet_NaN(),
                                       std::numeric_limits<double>::infinity(),
                                       -std::numeric_limits<double>::infinity(),
                                       std::numeric_limits<double>::denorm_min(),
                                       std::numeric_limits<double>::max()};
    if (uniform(0, 4) == 0) return edges[uniform(0, std::size(edges) - 1)];
    const std::uint64_t bits = engine_();
    double value;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
  }

  std::vector<float> nextFloats() {
    std::vector<float> values(nextSize());
    for (float& value : values) {
      const auto bits = static_cast<std::uint32_t>(engine_());
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
    switch (records_) {
      case RecordSet::hostRecords:
        if (uniform(0, 1) == 0) {
          return CodecCustomValue::make(AudioDevice{nextString(),
                                                    static_cast<AudioDeviceType>(uniform(0, 1)),
                                                    nextString(), uniform(0, 1) == 1});
        }
        return CodecCustomValue::make(AudioPermission{uniform(0, 1) == 1, uniform(0, 1) == 1});
      case RecordSet::eventRecords: {
        NativeAudioEvent event{nextString(), static_cast<AudioDeviceType>(uniform(0, 1)),
                               static_cast<NativeAudioEventType>(uniform(0, 5)), std::nullopt,
                               std::nullopt};
        if (uniform(0, 1) == 1) {
          std::vector<std::optional<double>> samples(nextSize());
          for (auto& sample : samples) {
            if (uniform(0, 9) != 0) sample = nextDouble();
          }
          event.audioData = std::move(samples);
        }
        if (uniform(0, 1) == 1) event.error = nextString();
        return CodecCustomValue::make(std::move(event));
      }
      case RecordSet::none:
        break;
    }
    return CodecValue(nextString());
  }

  std::mt19937_64 engine_;
  RecordSet records_;
};

}  // namespace harkwell::test
