#pragma once

#include <functional>
#include <utility>
#include <vector>

#include "fuzz/checks/FuzzChecks.h"
#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/ThreadSafety.h"
#include "platform/flutter/FlutterEngine.h"

// A UI engine for checks that drive the host from the UI side; the thread that
// calls pumpUntil and settle acts as the main thread. Every wait is bounded (10
// s), so a host that never answers becomes a verdict instead of a stuck run.
namespace harkwell::fuzz {

// The process's engine, never destroyed: static destruction at exit would race
// the engine's threads for nothing. Any thread.
FlutterEngine& fuzzEngine();

// Runs main-queue work until `done` holds; a verdict naming `what` on timeout.
FuzzVerdict pumpUntil(const std::function<bool()>& done, const char* what);

// Runs background tasks, main-queue work and UI-side work, round after round,
// until a round starts nothing new; a verdict on timeout.
FuzzVerdict settle();

// What a check saw arrive, from whichever thread delivers it. Any thread.
template <class T>
class LockedLog {
 public:
  void add(T item) {
    MutexLock lock(mutex_);
    items_.push_back(std::move(item));
  }
  std::vector<T> items() const {
    MutexLock lock(mutex_);
    return items_;
  }

 private:
  mutable Mutex mutex_;
  std::vector<T> items_ GUARDED_BY(mutex_);
};

}  // namespace harkwell::fuzz
