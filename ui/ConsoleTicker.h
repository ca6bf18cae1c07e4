#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <thread>

#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/ThreadSafety.h"

namespace harkwell {

// A thread of its own ("ui-ticker") that calls `tick` every interval until
// stopped, so that the console UI can redraw its meter and notice timeouts.
// `tick` runs on the ticker thread: it should only hand work to the UI thread.
// Thread affinity: construct, stop and destroy on any thread but the ticker's.
class ConsoleTicker {
 public:
  ConsoleTicker(std::chrono::milliseconds interval, std::function<void()> tick);
  ~ConsoleTicker();

  ConsoleTicker(const ConsoleTicker&) = delete;
  ConsoleTicker& operator=(const ConsoleTicker&) = delete;

  // No tick starts after this returns. Idempotent. Any thread but the ticker's.
  void stop() EXCLUDES(mutex_);

 private:
  void run(std::chrono::milliseconds interval, std::function<void()> tick) EXCLUDES(mutex_);

  Mutex mutex_;
  std::condition_variable_any wake_;
  bool stopping_ GUARDED_BY(mutex_) = false;
  std::thread thread_;
};

}  // namespace harkwell
