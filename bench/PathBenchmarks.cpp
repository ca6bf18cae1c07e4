// path: one delivered buffer through the whole audio path (AudioPathHarness):
// convert, build the event, BridgeFlutterApi::onEvent, encode, messenger send,
// and the engine's hop to its UI thread, where the router drops the message (no
// UI handler). Every 64 buffers the run waits for the UI thread to catch up, so
// the queue stays short and the UI thread's work lands inside the run; its CPU
// time counts in "cpu_ns" (process CPU), its allocations in "allocs".
// path_nohop: the same with a messenger that drops each message at once.
// path_reference: reference convert + ideal encode of the samples, no send.
// Per input shape as in ConvertBenchmarks.cpp.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "bench/AllocationCounter.h"
#include "bench/AudioPathHarness.h"
#include "bench/AudioPathInputs.h"
#include "bench/CostMeter.h"
#include "bench/IdealEventEncoder.h"
#include "bench/ReferenceConverter.h"

namespace harkwell::bench {
namespace {

constexpr InputShape shapes[] = {
    InputShape::float48kStereo, InputShape::int16At44k1StereoInterleaved, InputShape::float16kMono};
constexpr std::uint64_t buffersPerDrain = 64;

// Allocations that one drain() makes by itself, measured on an idle UI side.
std::uint64_t allocationsPerDrain(AudioPathHarness& harness) {
  std::uint64_t fewest = UINT64_MAX;
  for (int i = 0; i < 8; ++i) {
    const std::uint64_t before = allocationCount();
    harness.drain();
    fewest = std::min(fewest, allocationCount() - before);
  }
  return fewest;
}

void deliverBuffers(benchmark::State& state, InputShape shape, bool throughEngine) {
  const std::unique_ptr<AudioPathInput> input = makeAudioPathInput(shape);
  AudioPathHarness harness(throughEngine);
  const std::uint64_t drainAllocations = allocationsPerDrain(harness);
  std::uint64_t drains = 0;
  std::uint64_t buffers = 0;
  std::uint64_t samples = 0;
  CostMeter meter;
  for (auto _ : state) {
    samples += harness.deliver(input->buffer);
    if (++buffers % buffersPerDrain == 0) {
      harness.drain();
      ++drains;
    }
  }
  harness.drain();
  ++drains;
  meter.discountAllocations(drains * drainAllocations);
  meter.report(state, 1);
  state.counters["samples_per_event"] =
      static_cast<double>(samples) / static_cast<double>(std::max<std::uint64_t>(buffers, 1));
}

void deliverBuffersReference(benchmark::State& state, InputShape shape) {
  const std::unique_ptr<AudioPathInput> input = makeAudioPathInput(shape);
  CostMeter meter;
  for (auto _ : state) {
    const std::vector<float> samples = referenceConvert(input->pcm);
    std::vector<std::uint8_t> bytes =
        encodeAudioEventIdeal("1", AudioDeviceType::output, std::span<const float>(samples));
    benchmark::DoNotOptimize(bytes.data());
    benchmark::ClobberMemory();
  }
  meter.report(state, 1);
}

[[maybe_unused]] const bool registered = [] {
  for (InputShape shape : shapes) {
    const std::string suffix = std::string("/") + inputShapeName(shape);
    benchmark::RegisterBenchmark(("path" + suffix).c_str(), deliverBuffers, shape, true)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("path_nohop" + suffix).c_str(), deliverBuffers, shape, false);
    benchmark::RegisterBenchmark(("path_reference" + suffix).c_str(), deliverBuffersReference,
                                 shape);
  }
  return true;
}();

}  // namespace
}  // namespace harkwell::bench
