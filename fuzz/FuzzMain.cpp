// The libFuzzer entry of every target: the check HARKWELL_FUZZ_CHECK names
// (see checks/FuzzChecks.h) over the fuzzer's bytes.
#include <cstdio>
#include <cstdlib>

#include "fuzz/checks/FuzzChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (const auto verdict = harkwell::fuzz::HARKWELL_FUZZ_CHECK({data, size})) {
    // libFuzzer records the input as a crash, and scripts/fuzz reports it.
    std::fprintf(stderr, "harkwell fuzz: invariant broken: %s\n", verdict->c_str());
    std::abort();
  }
  return 0;
}
