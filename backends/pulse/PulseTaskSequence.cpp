#include "backends/pulse/PulseTaskSequence.h"

#include "platform/dispatch/BackgroundTasks.h"

namespace harkwell {

std::shared_ptr<PulseTaskSequence> PulseTaskSequence::create() {
  return std::shared_ptr<PulseTaskSequence>(new PulseTaskSequence());
}

void PulseTaskSequence::submit(std::function<void()> task) {
  {
    MutexLock lock(mutex_);
    tasks_.push_back(std::move(task));
    if (draining_) return;
    draining_ = true;
  }
  // One drain at a time is what keeps the tasks in order.
  BackgroundTasks::detach([self = shared_from_this()] { self->drain(); });
}

void PulseTaskSequence::drain() {
  for (;;) {
    std::function<void()> task;
    {
      MutexLock lock(mutex_);
      if (tasks_.empty()) {
        draining_ = false;
        return;
      }
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    // Run without our lock, so a task may submit more.
    try {
      task();
    } catch (...) {
      // Tasks report through their own completions; nothing escapes the worker.
    }
  }
}

}  // namespace harkwell
