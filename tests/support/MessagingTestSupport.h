#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/dispatch/MainRunLoop.h"
#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/ThreadSafety.h"

namespace harkwell::test {

// Generous: only a broken build ever waits this long.
inline constexpr std::chrono::seconds messagingTestDeadline{10};

// Polls `done` until it holds or `timeout` passes, running `between` between
// polls: by default the main loop, on the calling thread (the main thread then).
inline bool pumpMainUntil(
    const std::function<bool()>& done, std::chrono::milliseconds timeout = messagingTestDeadline,
    const std::function<void()>& between = [] {
      MainRunLoop::shared().drainFor(std::chrono::milliseconds(2));
    }) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return done();
    between();
  }
  return true;
}

// Pumps the main queue until it stays empty, so that a test can assert that
// nothing more arrives.
inline void pumpMainIdle() {
  while (MainRunLoop::shared().drain() > 0) {
  }
}

// Collects values from any thread.
template <class T>
class TestRecorder {
 public:
  void add(T value) {
    MutexLock lock(mutex_);
    values_.push_back(std::move(value));
    changed_.notify_all();
  }
  std::vector<T> values() {
    MutexLock lock(mutex_);
    return values_;
  }
  std::size_t size() { return values().size(); }
  // Waits until `count` values arrived or the deadline passes.
  bool waitFor(std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + messagingTestDeadline;
    MutexLock lock(mutex_);
    while (values_.size() < count) {
      if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) break;
    }
    return values_.size() >= count;
  }

 private:
  Mutex mutex_;
  std::condition_variable_any changed_;
  std::vector<T> values_ GUARDED_BY(mutex_);
};

// A one-shot signal that another thread can wait for, bounded in time.
class TestSignal {
 public:
  void notify() { raised_.add(true); }
  bool wait() { return raised_.waitFor(1); }
  bool raised() { return raised_.size() > 0; }

 private:
  TestRecorder<bool> raised_;
};

inline std::vector<std::uint8_t> bytesOf(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

inline std::string textOf(const std::vector<std::uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace harkwell::test
