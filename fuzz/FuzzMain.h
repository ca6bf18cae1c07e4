#pragma once

#include <cstdio>
#include <cstdlib>

#include "fuzz/checks/FuzzVerdict.h"

namespace harkwell::fuzz {

// Ends the fuzzing run when a check fails: libFuzzer records the input as a
// crash, and scripts/fuzz reports it. Fuzzer thread.
inline int reportVerdict(const FuzzVerdict& verdict) {
  if (verdict) {
    std::fprintf(stderr, "harkwell fuzz: invariant broken: %s\n", verdict->c_str());
    std::abort();
  }
  return 0;
}

}  // namespace harkwell::fuzz
