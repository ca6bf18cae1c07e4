#pragma once

#include <deque>
#include <functional>
#include <memory>

#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/ThreadSafety.h"

namespace harkwell {

// Runs tasks one at a time, in submission order, on the background task pool,
// so that blocking work (a stream start that waits for the server) leaves its
// caller free while starts and stops still happen in the order asked for.
// Hold it through shared_ptr: a running drain keeps it alive.
// Thread affinity: any thread; tasks on background workers.
class PulseTaskSequence : public std::enable_shared_from_this<PulseTaskSequence> {
 public:
  static std::shared_ptr<PulseTaskSequence> create();
  PulseTaskSequence(const PulseTaskSequence&) = delete;
  PulseTaskSequence& operator=(const PulseTaskSequence&) = delete;

  // Queues `task`; it runs after every task submitted before it. Any thread.
  void submit(std::function<void()> task) EXCLUDES(mutex_);

 private:
  PulseTaskSequence() = default;
  void drain() EXCLUDES(mutex_);

  Mutex mutex_;
  std::deque<std::function<void()>> tasks_ GUARDED_BY(mutex_);
  bool draining_ GUARDED_BY(mutex_) = false;
};

}  // namespace harkwell
