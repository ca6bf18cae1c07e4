#pragma once

#include <functional>

// Detached background tasks "with no priority of its own": a small pool of
// worker threads that never includes the main thread. A task that blocks (for
// instance waiting for a platform completion) cannot starve the pool: the pool
// starts another worker when every worker is busy.
// Thread affinity: any thread.
class BackgroundTasks {
 public:
  static void detach(std::function<void()> task);

  // Blocks until every task detached so far has finished. For tests and orderly
  // shutdown. Any thread but a background worker.
  static void waitIdle();
};
