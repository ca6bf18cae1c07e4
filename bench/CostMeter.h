#pragma once

#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdint>

#include "bench/AllocationCounter.h"

// Measures what one benchmark run costs per item: CPU time of the whole
// process (so that work the path hands to the UI thread counts too) and heap
// allocations on every thread, reported as the counters "cpu_ns" and "allocs"
// per item. The ratios that scripts/bench prints use these counters, so that
// the one-threaded yardsticks and the two-threaded path are measured alike.
// Thread affinity: the benchmark's thread.
namespace harkwell::bench {

class CostMeter {
 public:
  CostMeter() : startCpuNs_(processCpuNs()), startAllocations_(allocationCount()) {}

  // Allocations made for the measuring itself (drain markers), not by the path.
  void discountAllocations(std::uint64_t count) { discounted_ += count; }

  // Sets the counters for `itemsPerIteration` items per iteration. Benchmark thread.
  void report(benchmark::State& state, double itemsPerIteration) const {
    const double items = itemsPerIteration * static_cast<double>(state.iterations());
    if (items <= 0) return;
    const double cpuNs = static_cast<double>(processCpuNs() - startCpuNs_);
    const double allocations =
        static_cast<double>(allocationCount() - startAllocations_ - discounted_);
    state.counters["cpu_ns"] = cpuNs / items;
    state.counters["allocs"] = allocations / items;
  }

  // CPU time of every thread of the process so far, in ns. Any thread.
  static std::int64_t processCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
  }

 private:
  std::int64_t startCpuNs_;
  std::uint64_t startAllocations_;
  std::uint64_t discounted_ = 0;
};

}  // namespace harkwell::bench
