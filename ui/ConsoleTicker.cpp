#include "ui/ConsoleTicker.h"

#include <pthread.h>

#include <utility>

namespace harkwell {

ConsoleTicker::ConsoleTicker(std::chrono::milliseconds interval, std::function<void()> tick)
    : thread_(
          [this, interval, tick = std::move(tick)]() mutable { run(interval, std::move(tick)); }) {}

ConsoleTicker::~ConsoleTicker() {
  stop();
}

void ConsoleTicker::stop() {
  {
    MutexLock lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void ConsoleTicker::run(std::chrono::milliseconds interval, std::function<void()> tick) {
  pthread_setname_np(pthread_self(), "ui-ticker");
  // Absolute deadlines, so that the meter's seconds do not drift.
  auto next = std::chrono::steady_clock::now() + interval;
  for (;;) {
    {
      MutexLock lock(mutex_);
      while (!stopping_ && std::chrono::steady_clock::now() < next) wake_.wait_until(lock, next);
      if (stopping_) return;
    }
    // Outside the lock, so that stop() never waits for a tick in progress
    // while holding it.
    try {
      tick();
    } catch (...) {
      // Nothing may leave a thread; a failed hand-off only costs one tick.
    }
    next += interval;
  }
}

}  // namespace harkwell
