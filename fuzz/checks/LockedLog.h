#pragma once

#include <utility>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/ThreadSafety.h"

namespace harkwell::fuzz {

// What a check saw arrive, appended from whichever thread delivers it (the UI
// thread, a completion's thread) and read as a copy on the main thread.
// Thread affinity: any thread; every access takes the one lock.
template <class T>
class LockedLog {
 public:
  void add(T item) {
    MutexLock lock(mutex_);
    items_.push_back(std::move(item));
  }
  std::vector<T> items() const {
    MutexLock lock(mutex_);
    return items_;
  }

 private:
  mutable Mutex mutex_;
  std::vector<T> items_ GUARDED_BY(mutex_);
};

}  // namespace harkwell::fuzz
