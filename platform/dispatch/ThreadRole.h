#pragma once

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/ThreadSafety.h"

// Threads and serial queues as capabilities: state that only one of them may
// touch is GUARDED_BY its role, and every entry point that runs there says so
// with assertIsCurrent(), which both tells the thread-safety analysis and
// checks at run time, in every build type: state touched from the wrong thread
// is a data race that no test can be trusted to catch.

// The main thread (see MainRunLoop::isMainThread).
// Thread affinity: any thread.
class CAPABILITY("main thread") MainThreadRole {
 public:
  // Aborts the process when called off the main thread. Any thread.
  void assertIsCurrent() const ASSERT_CAPABILITY(this);
};

inline constexpr MainThreadRole mainThread{};

// One serial queue: whatever runs its work holds the role.
// Thread affinity: any thread; `queue` must outlive the role.
class CAPABILITY("serial queue") QueueRole {
 public:
  explicit QueueRole(const DispatchQueue& queue) : queue_(queue) {}

  // Aborts the process unless called from the queue's work. Any thread.
  void assertIsCurrent() const ASSERT_CAPABILITY(this);

 private:
  const DispatchQueue& queue_;
};
