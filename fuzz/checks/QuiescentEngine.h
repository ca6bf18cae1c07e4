#pragma once

#include <chrono>
#include <functional>
#include <utility>
#include <vector>

#include "fuzz/checks/FuzzChecks.h"
#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/ThreadSafety.h"
#include "platform/flutter/FlutterEngine.h"

namespace harkwell::fuzz {

// A UI engine for checks that drive the host from the UI side. The thread that
// calls pumpUntil and settle acts as the main thread. Every wait is bounded, so
// a host that never answers becomes a verdict instead of a stuck run.
// Thread affinity: pumpUntil and settle on the one thread that acts as the
// main thread; engine() from any thread.
class QuiescentEngine {
 public:
  static constexpr std::chrono::seconds hangTimeout{10};

  // The process's engine, never destroyed: static destruction at exit would
  // race the engine's threads for nothing. Main thread.
  static QuiescentEngine& shared();

  FlutterEngine& engine() { return engine_; }

  // Runs main-queue work until `done` holds; a verdict naming `what` when it
  // does not within hangTimeout.
  FuzzVerdict pumpUntil(const std::function<bool()>& done, const char* what);

  // Runs background tasks, main-queue work and UI-side work, round after
  // round, until a round starts nothing new; a verdict past hangTimeout.
  FuzzVerdict settle();

 private:
  QuiescentEngine() = default;
  FlutterEngine engine_;
};

// What a check saw arrive, appended from whichever thread delivers it and read
// as a copy on the main thread. Thread affinity: any thread.
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
