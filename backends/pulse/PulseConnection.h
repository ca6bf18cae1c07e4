#pragma once

#include <pulse/context.h>
#include <pulse/thread-mainloop.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "backends/pulse/PulseDeviceInfo.h"
#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/ThreadSafety.h"

namespace harkwell {

// What connecting to the sound server came to. There is no per-application
// consent gate on PulseAudio or pipewire-pulse: a reachable server lets us record.
enum class PulseReachability {
  reachable,    // the context is ready
  denied,       // the server refused us (access or authentication key)
  unreachable,  // no server, connection refused, or no answer before the deadline
};

// The devices of the server, taken in one round trip.
struct PulseInventory {
  std::string defaultSourceName;
  std::string defaultSinkName;
  std::vector<PulseSourceInfo> sources;
  std::vector<PulseSinkInfo> sinks;
};

// One PulseAudio threaded mainloop and one context. The context is created on
// first use and rebuilt lazily, on the next call, after the server went away; it
// never autospawns a server and is not NOFAIL, so a dead server is an answer, not
// a hang. Every wait here has a deadline; waits do not hold the mainloop lock, so
// a frozen server delays a caller by the deadline at most.
//
// Locking: every libpulse call made from our threads holds the mainloop lock
// (take a PulseConnection::Lock). libpulse callbacks run on the mainloop thread
// with that lock held; they call notify() to wake waiters and never block.
// Lock order: the mainloop lock, then waitMutex_ — never the other way round.
// Thread affinity: any thread except the mainloop thread; callbacks on the mainloop thread.
class PulseConnection {
 public:
  using Clock = std::chrono::steady_clock;
  using Deadline = Clock::time_point;

  struct Options {
    std::string applicationName = "Harkwell";
    // Shown by mixers such as pavucontrol; a recorder is "production".
    std::string mediaRole = "production";
    // Empty: libpulse's own choice ($PULSE_SERVER, then the runtime dir).
    std::string server;
    std::chrono::milliseconds deadline{3000};
  };

  // Holds the mainloop lock for its scope. unlock()/lock() let a waiter let go
  // of it while it sleeps. Not on the mainloop thread.
  class Lock {
   public:
    explicit Lock(PulseConnection& connection);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    void unlock();
    void lock();

   private:
    pa_threaded_mainloop* mainloop_;
    bool locked_ = false;
  };

  // Starts the mainloop thread; does not connect. Throws std::runtime_error
  // when the mainloop cannot be created or started. Any thread.
  explicit PulseConnection(Options options);
  // Drops the context and stops the mainloop thread. Every stream made on this
  // connection must be gone by then. Not on the mainloop thread.
  ~PulseConnection();
  PulseConnection(const PulseConnection&) = delete;
  PulseConnection& operator=(const PulseConnection&) = delete;

  // now + the configured deadline. Any thread.
  Deadline deadlineFromNow() const { return Clock::now() + options_.deadline; }
  const Options& options() const { return options_; }

  // Makes sure a ready context exists, building a new one when there is none or
  // the old one failed; waits for it until `deadline`. A context that does not
  // become ready in time is dropped. Caller holds `lock`.
  PulseReachability connect(Lock& lock, Deadline deadline);

  // Takes the lock and connects. Any thread but the mainloop thread.
  PulseReachability reachability(Deadline deadline);

  // The devices of the server, or nothing when it cannot be reached or does not
  // answer before `deadline`. Any thread but the mainloop thread.
  std::optional<PulseInventory> inventory(Deadline deadline);

  // The ready context, or null. Caller holds the lock.
  pa_context* context() const { return context_; }
  // True while the current context is ready. Caller holds the lock.
  bool ready() const;

  // Waits until `done()` holds, checking it under the lock after every wakeup,
  // and gives up at `deadline`. The lock is released while sleeping. Returns the
  // last value of done(). Caller holds `lock` exactly once.
  template <class Predicate>
  bool waitUntil(Lock& lock, Predicate done, Deadline deadline);

  // Waits for `operation` to finish (or the context to fail) until `deadline`;
  // cancels it if it has not, so its callback never runs later. Takes over the
  // reference. Returns true when it completed. Caller holds `lock`.
  bool await(Lock& lock, pa_operation* operation, Deadline deadline);

  // Wakes every waiter so it re-checks its condition. Mainloop thread (from
  // libpulse callbacks, lock held) or any thread.
  void notify();

  pa_threaded_mainloop* mainloop() const { return mainloop_; }

 private:
  static void onContextState(pa_context* context, void* self);
  void dropContext();

  const Options options_;
  pa_threaded_mainloop* mainloop_ = nullptr;
  // The mainloop lock guards these.
  pa_context* context_ = nullptr;

  Mutex waitMutex_;
  std::condition_variable_any wakeup_;
  uint64_t wakeups_ GUARDED_BY(waitMutex_) = 0;
};

template <class Predicate>
bool PulseConnection::waitUntil(Lock& lock, Predicate done, Deadline deadline) {
  for (;;) {
    if (done()) return true;
    // Read the wakeup count while still holding the mainloop lock: every state
    // change after done() was checked comes from a callback that runs under that
    // lock and bumps the count afterwards, so no wakeup is lost.
    uint64_t seen;
    {
      MutexLock guard(waitMutex_);
      seen = wakeups_;
    }
    lock.unlock();
    bool timedOut = false;
    {
      MutexLock guard(waitMutex_);
      while (wakeups_ == seen && !timedOut) {
        timedOut = wakeup_.wait_until(guard, deadline) == std::cv_status::timeout;
      }
    }
    // Our mutex is released before the mainloop lock is taken again.
    lock.lock();
    if (timedOut) return done();
  }
}

}  // namespace harkwell
