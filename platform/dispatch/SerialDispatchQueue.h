#pragma once

#include <condition_variable>
#include <memory>
#include <string>
#include <thread>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/TaskRing.h"
#include "platform/dispatch/ThreadSafety.h"

// A serial queue backed by a thread of its own, named after the label.
// Destruction drains: the work already queued runs, then the thread is joined.
// When the last reference is dropped on the queue's own thread (from inside one
// of its work items) the thread is detached instead and finishes the queued
// work by itself. Work submitted once destruction has begun is dropped.
// Thread affinity: any thread.
class SerialDispatchQueue final : public DispatchQueue {
 public:
  explicit SerialDispatchQueue(std::string label);
  ~SerialDispatchQueue() override;

  SerialDispatchQueue(const SerialDispatchQueue&) = delete;
  SerialDispatchQueue& operator=(const SerialDispatchQueue&) = delete;

  // Any thread.
  void async(Work work) override;
  // Any thread; inline on the queue's own thread.
  void sync(Work work) override;
  // Any thread.
  bool isCurrent() const override;
  // Any thread.
  const std::string& label() const override { return label_; }

 private:
  // Shared with the worker thread so that a detached worker can outlive the queue object.
  struct State {
    Mutex mutex;
    std::condition_variable_any wake;
    TaskRing work GUARDED_BY(mutex);
    bool closing GUARDED_BY(mutex) = false;
    // True while the worker sleeps with nobody having woken it yet. Senders
    // notify only then: a notify is a futex wake (a system call, and on a
    // virtual machine an inter-processor interrupt), and while the worker is
    // awake, or already being woken, it takes the new work without one.
    bool workerParked GUARDED_BY(mutex) = false;
  };

  // Queues `work` and wakes the worker if it sleeps. False once closing. Any thread.
  static bool enqueue(State& state, Work work);

  static void runWorker(std::shared_ptr<State> state, std::string label);

  const std::string label_;
  const std::shared_ptr<State> state_;
  std::thread thread_;
  // Written once before the worker runs any work; read-only afterwards.
  std::thread::id threadId_;
};
