#pragma once

#include "platform/dispatch/Task.h"

// Detached background tasks "with no priority of its own": a small pool of
// worker threads that never includes the main thread. A task that blocks (for
// instance waiting for a platform completion) cannot starve the pool: the pool
// starts another worker when every worker is busy, up to a generous cap
// (maxWorkers); past the cap tasks wait their turn. Workers idle for a few
// seconds exit. An exception escaping a task is reported on standard error.
// Thread affinity: any thread.
class BackgroundTasks {
 public:
  static constexpr int maxWorkers = 64;

  // Queues `task` and returns at once. Any thread.
  static void detach(Task task);

  // Blocks until every task detached so far has finished, including tasks they
  // detach in turn. For tests and orderly shutdown. Called from a task it waits
  // for every other task (it cannot wait for itself). Any thread.
  static void waitIdle();
};
