// encode: an already built deviceAudioData event → message bytes through
// BridgeFlutterApiCodec::shared(), for 160, 342 and 1024 samples (the blocks
// of 10 ms at 16 kHz, of a 1024-frame 48 kHz buffer, and a long one).
// ideal: the hand-written loop of IdealEventEncoder.h on the same event, same
// flags, same process. memcpy: copying one encoded event, the floor.

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench/AudioPathInputs.h"
#include "bench/CostMeter.h"
#include "bench/IdealEventEncoder.h"
#include "bridge/BridgeFlutterApiCodec.h"

namespace harkwell::bench {
namespace {

constexpr int sampleCounts[] = {160, 342, 1024};

void encodeEvent(benchmark::State& state, std::size_t samples) {
  // The message onEvent hands to the channel: [event].
  const CodecValue message(
      CodecList{CodecValue(CodecCustomValue::make(makeBenchAudioEvent(samples)))});
  const FlutterMessageCodec& codec = BridgeFlutterApiCodec::shared();
  CostMeter meter;
  for (auto _ : state) {
    std::vector<std::uint8_t> bytes = codec.encode(message);
    benchmark::DoNotOptimize(bytes.data());
    benchmark::ClobberMemory();
  }
  meter.report(state, 1);
  state.counters["ns_per_sample"] = state.counters["cpu_ns"] / static_cast<double>(samples);
}

void encodeEventIdeal(benchmark::State& state, std::size_t samples) {
  const NativeAudioEvent event = makeBenchAudioEvent(samples);
  const std::span<const std::optional<double>> data(*event.audioData);
  CostMeter meter;
  for (auto _ : state) {
    std::vector<std::uint8_t> bytes = encodeAudioEventIdeal(event.id, event.type, data);
    benchmark::DoNotOptimize(bytes.data());
    benchmark::ClobberMemory();
  }
  meter.report(state, 1);
  state.counters["ns_per_sample"] = state.counters["cpu_ns"] / static_cast<double>(samples);
}

void copyEncodedEvent(benchmark::State& state, std::size_t samples) {
  const NativeAudioEvent event = makeBenchAudioEvent(samples);
  const std::vector<std::uint8_t> source = encodeAudioEventIdeal(
      event.id, event.type, std::span<const std::optional<double>>(*event.audioData));
  std::vector<std::uint8_t> target(source.size());
  CostMeter meter;
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), source.size());
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  meter.report(state, 1);
  state.counters["ns_per_sample"] = state.counters["cpu_ns"] / static_cast<double>(samples);
}

[[maybe_unused]] const bool registered = [] {
  for (int samples : sampleCounts) {
    const auto n = static_cast<std::size_t>(samples);
    const std::string suffix = "/" + std::to_string(samples);
    benchmark::RegisterBenchmark(("encode" + suffix).c_str(), encodeEvent, n);
    benchmark::RegisterBenchmark(("ideal" + suffix).c_str(), encodeEventIdeal, n);
    benchmark::RegisterBenchmark(("memcpy" + suffix).c_str(), copyEncodedEvent, n);
  }
  return true;
}();

}  // namespace
}  // namespace harkwell::bench
