#pragma once

#include <condition_variable>

#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/ThreadSafety.h"

namespace harkwell {

// Lets callbacks into an object in only while the gate is open, and lets the
// object close it and know that no callback runs into it any more: close()
// waits for the callbacks admitted on other threads. A callback that closes its
// own gate (even nested in another of its callbacks) does not wait for itself.
// Held through shared_ptr by queued work, so work that runs after the object is
// gone finds the gate closed and does nothing.
// Thread affinity: any thread. No lock is held while a callback runs.
class CallbackGate {
 public:
  // Holds the gate for one callback; test admitted() before running it.
  // Thread affinity: created and destroyed on the thread that runs the callback.
  class Entry {
   public:
    explicit Entry(CallbackGate& gate) : gate_(gate), admitted_(gate.enter()) {}
    ~Entry() {
      if (admitted_) gate_.leave();
    }
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;

    bool admitted() const { return admitted_; }

   private:
    CallbackGate& gate_;
    const bool admitted_;
  };

  explicit CallbackGate(bool open = true) : open_(open) {}
  CallbackGate(const CallbackGate&) = delete;
  CallbackGate& operator=(const CallbackGate&) = delete;

  // Runs `callback` if the gate is open and returns whether it ran. Whatever
  // the callback throws stays here: its caller is platform code or a queue.
  // Any thread.
  template <typename Callback>
  bool run(Callback&& callback) {
    Entry entry(*this);
    if (!entry.admitted()) return false;
    try {
      callback();
    } catch (...) {
    }
    return true;
  }

  // Admits callbacks again. Any thread.
  void open() EXCLUDES(mutex_);

  // Refuses every later callback, then waits until those admitted on other
  // threads have left. Must not be called while holding a lock that a gated
  // callback takes. Any thread.
  void close() EXCLUDES(mutex_);

  bool isOpen() const EXCLUDES(mutex_);

 private:
  bool enter() EXCLUDES(mutex_);
  void leave() EXCLUDES(mutex_);

  mutable Mutex mutex_;
  std::condition_variable_any idle_;
  bool open_ GUARDED_BY(mutex_);
  int admitted_ GUARDED_BY(mutex_) = 0;
  // Only closers wait: a leave wakes someone only when one does.
  int closers_ GUARDED_BY(mutex_) = 0;
};

}  // namespace harkwell
