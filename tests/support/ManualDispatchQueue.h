#pragma once

#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "platform/dispatch/DispatchQueueFactory.h"
#include "tests/support/MessagingTestSupport.h"

// A serial queue whose work runs only when a test runs it, on the test's
// thread: async() queues; sync() runs what is queued and then its own work;
// destruction runs what is left, as the threaded queue does. Runs from two
// threads take turns. Thread affinity: any thread.
class ManualDispatchQueue final : public DispatchQueue {
 public:
  explicit ManualDispatchQueue(std::string label = "manual") : label_(std::move(label)) {}
  ~ManualDispatchQueue() override { drain(); }

  void async(Work work) override {
    if (work) work_.with([&](std::deque<Work>& queued) { queued.push_back(std::move(work)); });
  }
  void sync(Work work) override {
    if (!isCurrent()) drain();
    run(work);
  }
  bool isCurrent() const override { return runner_.load() == std::this_thread::get_id(); }
  const std::string& label() const override { return label_; }

  // Runs queued work, and work queued meanwhile, until none is left.
  void drain() {
    for (Work next; (next = work_.with(takeFront));) run(next);
  }

 private:
  static Work takeFront(std::deque<Work>& queued) {
    if (queued.empty()) return nullptr;
    Work front = std::move(queued.front());
    queued.pop_front();
    return front;
  }
  // Runs `work` as this queue, nesting on one thread.
  void run(Work& work) {
    if (!work) return;
    std::lock_guard<std::recursive_mutex> turn(runMutex_);
    const std::thread::id previous = runner_.exchange(std::this_thread::get_id());
    work();
    runner_.store(previous);
  }

  const std::string label_;
  harkwell::test::Guarded<std::deque<Work>> work_;
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
          made_.with([&](Made& made) { made[queue->label()] = queue; });
          return queue;
        }) {}

  // The latest queue made with `label` while it lives, or null. Any thread.
  std::shared_ptr<ManualDispatchQueue> find(const std::string& label) const {
    return made_.with([&](Made& made) { return made[label].lock(); });
  }

 private:
  using Made = std::map<std::string, std::weak_ptr<ManualDispatchQueue>>;
  mutable harkwell::test::Guarded<Made> made_;
  // Last member: installed once the record exists, removed before it goes.
  ScopedDispatchQueueFactory scope_;
};
