#include "platform/capture/CallbackGate.h"

#include <algorithm>

namespace harkwell {

bool CallbackGate::run(const std::function<void()>& callback) {
  {
    MutexLock lock(mutex_);
    if (!open_) return false;
    running_.push_back(std::this_thread::get_id());
  }
  // The lock is released while the callback runs so that it may close this
  // gate itself or take its own locks without ordering against ours.
  try {
    callback();
  } catch (...) {
    // A callback is platform code's caller; nothing may escape into a queue.
  }
  MutexLock lock(mutex_);
  running_.erase(std::find(running_.begin(), running_.end(), std::this_thread::get_id()));
  idle_.notify_all();
  return true;
}

void CallbackGate::open() {
  MutexLock lock(mutex_);
  open_ = true;
}

void CallbackGate::close() {
  MutexLock lock(mutex_);
  open_ = false;
  while (runningElsewhere() > 0) idle_.wait(lock);
}

bool CallbackGate::isOpen() const {
  MutexLock lock(mutex_);
  return open_;
}

std::size_t CallbackGate::runningElsewhere() const {
  const auto self = std::this_thread::get_id();
  return static_cast<std::size_t>(
      std::count_if(running_.begin(), running_.end(), [&](auto id) { return id != self; }));
}

}  // namespace harkwell
