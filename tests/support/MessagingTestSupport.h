#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/MainRunLoop.h"
#include "platform/dispatch/Mutex.h"

namespace harkwell::test {

// Generous: only a broken build ever waits this long.
inline constexpr std::chrono::seconds messagingTestDeadline{10};

inline void pumpMainBriefly() {
  MainRunLoop::shared().drainFor(std::chrono::milliseconds(2));
}
inline void sleepBriefly() {
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

// Polls `done` until it holds or `timeout` passes, running `between` meanwhile.
inline bool pollUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
                      void (*between)()) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return done();
    between();
  }
  return true;
}

// Pumps the main loop on the calling thread (the main thread then) until
// `done` holds; false at the deadline.
inline bool pumpMainUntil(const std::function<bool()>& done) {
  return pollUntil(done, messagingTestDeadline, pumpMainBriefly);
}

// Pumps the main queue until it stays empty, so that a test can assert that
// nothing more arrives; returns how many items ran.
inline std::size_t pumpMainIdle() {
  std::size_t ran = 0;
  for (std::size_t n; (n = MainRunLoop::shared().drain()) > 0;) ran += n;
  return ran;
}

// A value that any thread reads and changes under its lock.
template <class T>
class Guarded {
 public:
  template <class Use>
  auto with(Use use) {
    MutexLock lock(mutex_);
    return use(value_);
  }

 private:
  Mutex mutex_;
  T value_ GUARDED_BY(mutex_);
};

// Collects values from any thread.
template <class T>
class TestRecorder : public Guarded<std::vector<T>> {
 public:
  void add(T value) {
    this->with([&](auto& values) { values.push_back(std::move(value)); });
  }
  std::vector<T> values() {
    return this->with([](auto& values) { return values; });
  }
  std::size_t size() { return values().size(); }
};

// A one-shot signal that another thread can wait for, bounded in time.
class TestSignal {
 public:
  void notify() { raised_ = true; }
  bool wait() {
    return pollUntil([this] { return raised(); }, messagingTestDeadline, sleepBriefly);
  }
  bool raised() { return raised_; }

 private:
  std::atomic<bool> raised_ = false;
};

inline std::vector<std::uint8_t> bytesOf(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

inline std::string textOf(const std::vector<std::uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace harkwell::test
