#pragma once

#include <condition_variable>
#include <mutex>

#include "platform/dispatch/ThreadSafety.h"

// std::mutex with the capability annotations that -Wthread-safety needs
// (libstdc++'s own mutex carries none).
class CAPABILITY("mutex") Mutex {
 public:
  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }
  bool tryLock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }
  std::mutex& native() { return mutex_; }

 private:
  std::mutex mutex_;
};

// Scoped holder of a Mutex; usable with std::condition_variable_any.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~MutexLock() RELEASE() { mutex_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  // For condition variables: they unlock and relock through these.
  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }

 private:
  Mutex& mutex_;
};
