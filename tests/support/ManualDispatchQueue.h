#pragma once

#include <atomic>
#include <deque>
#include <map>
#include <thread>

#include "platform/dispatch/DispatchQueueFactory.h"
#include "platform/dispatch/Mutex.h"

// A serial queue whose work runs only when a test runs it, on the test's
// thread: async() queues; sync() runs what is queued and then its own work;
// destruction runs what is left, as the threaded queue does. Runs from two
// threads take turns. Thread affinity: any thread.
class ManualDispatchQueue final : public DispatchQueue {
 public:
  explicit ManualDispatchQueue(std::string label = "manual") : label_(std::move(label)) {}
  ~ManualDispatchQueue() override { drain(); }

  void async(Work work) override {
    MutexLock lock(mutex_);
    if (work) work_.push_back(std::move(work));
  }
  void sync(Work work) override {
    if (!isCurrent()) drain();
    run(work);
  }
  bool isCurrent() const override { return runner_.load() == std::this_thread::get_id(); }
  const std::string& label() const override { return label_; }

  // Runs queued work, and work queued meanwhile, until none is left.
  void drain() {
    for (;;) {
      Work next;
      {
        MutexLock lock(mutex_);
        if (work_.empty()) return;
        next = std::move(work_.front());
        work_.pop_front();
      }
      run(next);
    }
  }

 private:
  // Runs `work` as this queue, nesting on one thread.
  void run(Work& work) {
    if (!work) return;
    std::lock_guard<std::recursive_mutex> turn(runMutex_);
    const std::thread::id previous = runner_.exchange(std::this_thread::get_id());
    work();
    runner_.store(previous);
  }

  const std::string label_;
  Mutex mutex_;
  std::deque<Work> work_ GUARDED_BY(mutex_);
  std::recursive_mutex runMutex_;
  std::atomic<std::thread::id> runner_{};
};

// Makes DispatchQueue::makeSerial build ManualDispatchQueues while it lives,
// so that a test can find (by label) the queues the code under test makes.
// Holds them weakly. Thread affinity: create and destroy on one thread.
class ManualDispatchQueues {
 public:
  ManualDispatchQueues()
      : scope_([this](std::string label) -> std::shared_ptr<DispatchQueue> {
          auto queue = std::make_shared<ManualDispatchQueue>(std::move(label));
          MutexLock lock(mutex_);
          made_[queue->label()] = queue;
          return queue;
        }) {}

  // The latest queue made with `label` while it lives, or null. Any thread.
  std::shared_ptr<ManualDispatchQueue> find(const std::string& label) const {
    MutexLock lock(mutex_);
    auto made = made_.find(label);
    return made == made_.end() ? nullptr : made->second.lock();
  }

 private:
  mutable Mutex mutex_;
  std::map<std::string, std::weak_ptr<ManualDispatchQueue>> made_ GUARDED_BY(mutex_);
  // Last member: installed once the record exists, removed before it goes.
  ScopedDispatchQueueFactory scope_;
};
