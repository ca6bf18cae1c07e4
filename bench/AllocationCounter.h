#pragma once

#include <cstdint>

// Counts the heap allocations of the whole benchmark process: this binary
// replaces the global operator new (every form) with one that counts and
// forwards to malloc. std::allocator, make_shared and std::function all come
// through it; memory that C code mallocs directly does not.
// Thread affinity: any thread; the count is one relaxed atomic.
namespace harkwell::bench {

// Allocations made so far, on every thread. Any thread.
std::uint64_t allocationCount();

}  // namespace harkwell::bench
