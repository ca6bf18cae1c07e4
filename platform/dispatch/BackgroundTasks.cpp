#include "platform/dispatch/BackgroundTasks.h"

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/dispatch/LogLine.h"
#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/RunWork.h"
#include "platform/dispatch/TaskRing.h"
#include "platform/dispatch/ThreadSafety.h"

namespace {

constexpr auto idleWorkerLifetime = std::chrono::seconds(5);

// Tells waitIdle() that it runs inside a task, which therefore counts itself.
thread_local bool onBackgroundWorker = false;

class WorkerPool {
 public:
  void detach(Task task) {
    if (!task) return;
    bool startWorker = false;
    {
      MutexLock lock(mutex_);
      tasks_.push(std::move(task));
      ++unfinished_;
      // Every idle worker may already be spoken for by a queued task: start a
      // new one unless enough idle workers remain for everything queued.
      if (idleWorkers_ < static_cast<int>(tasks_.size()) &&
          workers_ < BackgroundTasks::maxWorkers) {
        ++workers_;
        startWorker = true;
      }
    }
    if (startWorker) {
      // Detached: the pool is never destroyed, and a worker ends on its own
      // once it has been idle long enough.
      try {
        std::thread([this] { workerLoop(); }).detach();
        return;
      } catch (const std::system_error&) {
        // Out of threads: the task stays queued for the workers that exist.
        MutexLock lock(mutex_);
        --workers_;
        harkwell::writeDiagnostic("could not start a background worker");
      }
      wake_.notify_one();
    } else {
      wake_.notify_one();
    }
  }

  void waitIdle() {
    MutexLock lock(mutex_);
    const int self = onBackgroundWorker ? 1 : 0;
    waitingWorkers_ += self;
    // Another task may be waiting here too and now has one more task to discount.
    if (self != 0) idle_.notify_all();
    while (unfinished_ > waitingWorkers_) idle_.wait(lock);
    waitingWorkers_ -= self;
  }

 private:
  void workerLoop() {
    pthread_setname_np(pthread_self(), "background");
    onBackgroundWorker = true;
    for (;;) {
      Task task;
      {
        MutexLock lock(mutex_);
        ++idleWorkers_;
        const auto deadline = std::chrono::steady_clock::now() + idleWorkerLifetime;
        bool timedOut = false;
        while (tasks_.empty() && !timedOut) {
          timedOut = wake_.wait_until(lock, deadline) == std::cv_status::timeout;
        }
        --idleWorkers_;
        if (tasks_.empty()) {
          --workers_;
          return;
        }
        task = tasks_.pop();
      }
      harkwell::runWork(task, "background task");
      // Drop the task's captures before it counts as finished, so that
      // waitIdle() also means "their destructors have run".
      task = nullptr;
      {
        MutexLock lock(mutex_);
        --unfinished_;
      }
      idle_.notify_all();
    }
  }

  Mutex mutex_;
  std::condition_variable_any wake_;
  std::condition_variable_any idle_;
  TaskRing tasks_ GUARDED_BY(mutex_);
  int unfinished_ GUARDED_BY(mutex_) = 0;
  int workers_ GUARDED_BY(mutex_) = 0;
  int idleWorkers_ GUARDED_BY(mutex_) = 0;
  int waitingWorkers_ GUARDED_BY(mutex_) = 0;
};

WorkerPool& pool() {
  // Never destroyed: detached workers may still be running at process exit.
  static WorkerPool* instance = new WorkerPool;
  return *instance;
}

}  // namespace

void BackgroundTasks::detach(Task task) {
  pool().detach(std::move(task));
}

void BackgroundTasks::waitIdle() {
  pool().waitIdle();
}
