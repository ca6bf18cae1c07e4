// convert: AudioConverter::convert on one delivered buffer, per input shape:
//   1024 frames 48000 Hz stereo float32 (342 samples out),
//   512 frames 44100 Hz stereo int16 interleaved (186 or 187 out),
//   160 frames 16000 Hz mono float32 (160 out, no picking).
// convert_reference: the straightforward scalar code of ReferenceConverter.h on
// the same bytes, built with the same flags.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "audio/capture/AudioConverter.h"
#include "bench/AudioPathInputs.h"
#include "bench/CostMeter.h"
#include "bench/ReferenceConverter.h"

namespace harkwell::bench {
namespace {

constexpr InputShape shapes[] = {
    InputShape::float48kStereo, InputShape::int16At44k1StereoInterleaved, InputShape::float16kMono};

void convertBuffer(benchmark::State& state, InputShape shape) {
  const std::unique_ptr<AudioPathInput> input = makeAudioPathInput(shape);
  // One converter for the run, like a capture's: later buffers continue its stream.
  AudioConverter converter;
  CostMeter meter;
  for (auto _ : state) {
    std::vector<float> samples = converter.convert(input->buffer);
    benchmark::DoNotOptimize(samples.data());
    benchmark::ClobberMemory();
  }
  meter.report(state, 1);
  state.counters["ns_per_frame"] = state.counters["cpu_ns"] / static_cast<double>(input->frames);
}

void convertBufferReference(benchmark::State& state, InputShape shape) {
  const std::unique_ptr<AudioPathInput> input = makeAudioPathInput(shape);
  CostMeter meter;
  for (auto _ : state) {
    std::vector<float> samples = referenceConvert(input->pcm);
    benchmark::DoNotOptimize(samples.data());
    benchmark::ClobberMemory();
  }
  meter.report(state, 1);
  state.counters["ns_per_frame"] = state.counters["cpu_ns"] / static_cast<double>(input->frames);
}

[[maybe_unused]] const bool registered = [] {
  for (InputShape shape : shapes) {
    const std::string suffix = std::string("/") + inputShapeName(shape);
    benchmark::RegisterBenchmark(("convert" + suffix).c_str(), convertBuffer, shape);
    benchmark::RegisterBenchmark(("convert_reference" + suffix).c_str(), convertBufferReference,
                                 shape);
  }
  return true;
}();

}  // namespace
}  // namespace harkwell::bench
