#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchQueueFactory.h"
#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/ThreadSafety.h"

// A serial queue whose work runs only when the test says so: async() queues,
// runOne()/drain() run queued work on the calling thread. Work never overlaps:
// two threads that run the queue at once take turns.
// sync() never waits for a drain that may not come: it runs the work queued
// before it and then its own work, in order, on the calling thread.
// Destruction runs what is still queued, as the threaded queue does.
// Thread affinity: any thread.
class ManualDispatchQueue final : public DispatchQueue {
 public:
  explicit ManualDispatchQueue(std::string label = "manual") : label_(std::move(label)) {}
  ~ManualDispatchQueue() override { drain(); }

  ManualDispatchQueue(const ManualDispatchQueue&) = delete;
  ManualDispatchQueue& operator=(const ManualDispatchQueue&) = delete;

  // Queues work. Any thread.
  void async(Work work) override {
    if (!work) return;
    MutexLock lock(mutex_);
    work_.push_back(std::move(work));
  }

  // Runs everything queued so far, then `work`, on the calling thread. Any thread.
  void sync(Work work) override {
    if (!work) return;
    if (isCurrent()) {
      work();
      return;
    }
    std::size_t before = pending();
    while (before-- > 0 && runOne()) {
    }
    Running running(*this);
    work();
  }

  // True while the calling thread runs this queue's work. Any thread.
  bool isCurrent() const override { return runner_.load() == std::this_thread::get_id(); }

  const std::string& label() const override { return label_; }

  // Runs the oldest queued item; false when nothing was queued. Any thread.
  bool runOne() {
    Running running(*this);
    Work next;
    {
      MutexLock lock(mutex_);
      if (work_.empty()) return false;
      next = std::move(work_.front());
      work_.pop_front();
    }
    next();
    return true;
  }

  // Runs queued work, including work queued meanwhile, until none is left;
  // returns how many items ran. Any thread.
  std::size_t drain() {
    std::size_t ran = 0;
    while (runOne()) ++ran;
    return ran;
  }

  // Items queued and not yet run. Any thread.
  std::size_t pending() const {
    MutexLock lock(mutex_);
    return work_.size();
  }

 private:
  // Marks the calling thread as running this queue; nests on the same thread.
  class Running {
   public:
    explicit Running(ManualDispatchQueue& queue) : queue_(queue), lock_(queue.runMutex_) {
      previous_ = queue_.runner_.exchange(std::this_thread::get_id());
    }
    ~Running() { queue_.runner_.store(previous_); }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;

   private:
    ManualDispatchQueue& queue_;
    std::lock_guard<std::recursive_mutex> lock_;
    std::thread::id previous_;
  };

  const std::string label_;
  mutable Mutex mutex_;
  std::deque<Work> work_ GUARDED_BY(mutex_);
  // Held while work runs, so that runs from two threads never overlap.
  std::recursive_mutex runMutex_;
  std::atomic<std::thread::id> runner_{};
};

// Makes DispatchQueue::makeSerial build ManualDispatchQueues for its lifetime
// and keeps track of them by label, so that a test can find queues that the
// code under test creates for itself. Holds the queues weakly: a queue whose
// owner dropped it is gone.
// Thread affinity: create and destroy on one thread; the rest from any thread.
class ManualDispatchQueues {
 public:
  ManualDispatchQueues()
      : scope_([this](std::string label) -> std::shared_ptr<DispatchQueue> {
          auto queue = std::make_shared<ManualDispatchQueue>(std::move(label));
          MutexLock lock(mutex_);
          made_.push_back(queue);
          return queue;
        }) {}

  ManualDispatchQueues(const ManualDispatchQueues&) = delete;
  ManualDispatchQueues& operator=(const ManualDispatchQueues&) = delete;

  // The most recently made live queue with `label`, or null. Any thread.
  std::shared_ptr<ManualDispatchQueue> find(const std::string& label) const {
    MutexLock lock(mutex_);
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
      auto queue = it->lock();
      if (queue && queue->label() == label) return queue;
    }
    return nullptr;
  }

 private:
  mutable Mutex mutex_;
  std::vector<std::weak_ptr<ManualDispatchQueue>> made_ GUARDED_BY(mutex_);
  // Last member: installed once the record exists, removed before it goes.
  ScopedDispatchQueueFactory scope_;
};
