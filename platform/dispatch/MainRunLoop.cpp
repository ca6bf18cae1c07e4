#include "platform/dispatch/MainRunLoop.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/LogLine.h"
#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/RunWork.h"
#include "platform/dispatch/TaskRing.h"
#include "platform/dispatch/ThreadSafety.h"

namespace {

// The main queue and the loop that services it are one object: the queue's
// work list is the loop's input.
// Thread affinity: see MainRunLoop and DispatchQueue.
class MainLoop final : public MainRunLoop, public DispatchQueue {
 public:
  MainLoop() = default;
  MainLoop(const MainLoop&) = delete;
  MainLoop& operator=(const MainLoop&) = delete;

  void run() override {
    PumpScope pump(*this);
    for (;;) {
      Work next;
      {
        MutexLock lock(mutex_);
        while (work_.empty() && !stopRequested_) wake_.wait(lock);
        if (stopRequested_) {
          stopRequested_ = false;
          return;
        }
        next = work_.pop();
      }
      harkwell::runWork(next, label_);
    }
  }

  void stop() override {
    {
      MutexLock lock(mutex_);
      stopRequested_ = true;
    }
    wake_.notify_all();
  }

  std::size_t drain() override {
    PumpScope pump(*this);
    return runUntilEmpty();
  }

  std::size_t drainFor(std::chrono::milliseconds timeout) override {
    PumpScope pump(*this);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    {
      MutexLock lock(mutex_);
      while (work_.empty() && !stopRequested_) {
        if (wake_.wait_until(lock, deadline) == std::cv_status::timeout) break;
      }
    }
    return runUntilEmpty();
  }

  void adoptCurrentThread() override {
    std::thread::id unset;
    const std::thread::id self = std::this_thread::get_id();
    if (mainThread_.compare_exchange_strong(unset, self) || unset == self) return;
    harkwell::writeDiagnostic("the main run loop was used off the main thread");
    std::abort();
  }

  std::thread::id rebind(std::thread::id thread) override { return mainThread_.exchange(thread); }

  bool isMainThread() const override {
    const std::thread::id main = mainThread_.load();
    if (main == std::thread::id()) return ::syscall(SYS_gettid) == ::getpid();
    return main == std::this_thread::get_id();
  }

  void async(Work work) override {
    if (!work) return;
    {
      MutexLock lock(mutex_);
      work_.push(std::move(work));
    }
    // Every waiter must look: a pump and a drainFor may both be waiting.
    wake_.notify_all();
  }

  void sync(Work work) override {
    if (!work) return;
    if (isMainThread()) {
      work();
      return;
    }
    // The main queue never drops work, so the item always runs.
    harkwell::enqueueAndWait(
        [this](Task item) {
          async(std::move(item));
          return true;
        },
        work);
  }

  bool isCurrent() const override { return isMainThread(); }

  const std::string& label() const override { return label_; }

 private:
  // Makes the calling thread the one pumping thread for its lifetime. The same
  // thread may pump again from inside a work item (a nested loop); any other
  // thread waits until the pump is free, so main-queue work never overlaps.
  class PumpScope {
   public:
    explicit PumpScope(MainLoop& loop) : loop_(loop) {
      loop_.adoptCurrentThread();
      const std::thread::id self = std::this_thread::get_id();
      MutexLock lock(loop_.mutex_);
      if (loop_.pumpOwner_ != self) {
        while (loop_.pumpOwner_ != std::thread::id()) loop_.pumpFree_.wait(lock);
        loop_.pumpOwner_ = self;
      }
      ++loop_.pumpDepth_;
    }
    ~PumpScope() {
      {
        MutexLock lock(loop_.mutex_);
        if (--loop_.pumpDepth_ > 0) return;
        loop_.pumpOwner_ = std::thread::id();
      }
      loop_.pumpFree_.notify_all();
    }
    PumpScope(const PumpScope&) = delete;
    PumpScope& operator=(const PumpScope&) = delete;

   private:
    MainLoop& loop_;
  };

  // Runs items until the queue is empty or a stop arrives. Pumping thread.
  std::size_t runUntilEmpty() {
    std::size_t ran = 0;
    for (;;) {
      Work next;
      {
        MutexLock lock(mutex_);
        if (stopRequested_) {
          stopRequested_ = false;
          return ran;
        }
        if (work_.empty()) return ran;
        next = work_.pop();
      }
      harkwell::runWork(next, label_);
      ++ran;
    }
  }

  const std::string label_ = "main";
  Mutex mutex_;
  std::condition_variable_any wake_;
  std::condition_variable_any pumpFree_;
  TaskRing work_ GUARDED_BY(mutex_);
  bool stopRequested_ GUARDED_BY(mutex_) = false;
  std::thread::id pumpOwner_ GUARDED_BY(mutex_);
  int pumpDepth_ GUARDED_BY(mutex_) = 0;
  // Set once (see MainRunLoop); read on any thread without the lock
  // (isMainThread must stay cheap).
  std::atomic<std::thread::id> mainThread_{};
};

MainLoop& mainLoop() {
  // Never destroyed: other threads may still post to the main queue while the
  // process runs its static destructors.
  static MainLoop* loop = new MainLoop;
  return *loop;
}

}  // namespace

MainRunLoop& MainRunLoop::shared() {
  return mainLoop();
}

MainRunLoop::ScopedTestMainThread::ScopedTestMainThread()
    : previous_(shared().rebind(std::this_thread::get_id())) {}

MainRunLoop::ScopedTestMainThread::~ScopedTestMainThread() {
  shared().rebind(previous_);
}

DispatchQueue& DispatchQueue::main() {
  return mainLoop();
}
