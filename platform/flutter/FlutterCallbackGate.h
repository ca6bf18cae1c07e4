#pragma once

#include <condition_variable>

#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/ThreadSafety.h"

// Admits callbacks until closed, then admits none; closing waits for the
// callbacks already admitted on other threads. This is what lets an engine
// promise that nothing of its runs once its destructor has returned.
// Thread affinity: any thread.
class FlutterCallbackGate {
 public:
  // Holds the gate open for one callback; test with `admitted()` before running it.
  // Thread affinity: created and destroyed on the thread that runs the callback.
  class Entry {
   public:
    explicit Entry(FlutterCallbackGate& gate);
    ~Entry();
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;

    bool admitted() const { return admitted_; }

   private:
    FlutterCallbackGate& gate_;
    bool admitted_;
  };

  FlutterCallbackGate() = default;
  FlutterCallbackGate(const FlutterCallbackGate&) = delete;
  FlutterCallbackGate& operator=(const FlutterCallbackGate&) = delete;

  // Refuses every later entry and waits until the callbacks admitted on other
  // threads have left. A callback that closes its own gate does not wait for
  // itself. Any thread.
  void close();

  // Any thread.
  bool isClosed() const;

 private:
  bool enter();
  void leave();

  mutable Mutex mutex_;
  std::condition_variable_any idle_;
  bool closed_ GUARDED_BY(mutex_) = false;
  int active_ GUARDED_BY(mutex_) = 0;
};
