#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <thread>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/ThreadSafety.h"

namespace harkwell {

// Lets callbacks into an object run only while the gate is open, and lets the
// object close the gate and know that no callback is running into it any more.
// Held through shared_ptr by queued work, so work that runs after the object is
// gone finds the gate closed and does nothing.
// Thread affinity: any thread. No lock is held while a callback runs.
class CallbackGate {
 public:
  explicit CallbackGate(bool open = true) : open_(open) {}
  CallbackGate(const CallbackGate&) = delete;
  CallbackGate& operator=(const CallbackGate&) = delete;

  // Runs `callback` if the gate is open and returns whether it ran. Any thread.
  bool run(const std::function<void()>& callback) EXCLUDES(mutex_);

  void open() EXCLUDES(mutex_);

  // Closes the gate, then waits until every callback in progress on other
  // threads has returned. A callback that closes its own gate is not waited for.
  // Must not be called while holding a lock that a gated callback takes.
  // Any thread.
  void close() EXCLUDES(mutex_);

  bool isOpen() const EXCLUDES(mutex_);

 private:
  std::size_t runningElsewhere() const REQUIRES(mutex_);

  mutable Mutex mutex_;
  std::condition_variable_any idle_;
  bool open_ GUARDED_BY(mutex_);
  std::vector<std::thread::id> running_ GUARDED_BY(mutex_);
};

}  // namespace harkwell
