#include "platform/dispatch/RunWork.h"

#include <condition_variable>
#include <exception>
#include <string>

#include "platform/dispatch/LogLine.h"
#include "platform/dispatch/Mutex.h"

namespace harkwell {

void runWork(Task& work, std::string_view where) noexcept {
  try {
    work();
  } catch (const std::exception& error) {
    writeDiagnostic("work on " + std::string(where) + " ended with an exception: " + error.what());
  } catch (...) {
    writeDiagnostic("work on " + std::string(where) + " ended with an unknown exception");
  }
}

void enqueueAndWait(const std::function<bool(Task)>& enqueue, Task& work) {
  // The waiter's state lives on this stack frame; the queue either runs the
  // item (and signals) or refuses it up front, so it never outlives the frame.
  Mutex doneMutex;
  std::condition_variable_any doneSignal;
  bool done = false;
  std::exception_ptr error;
  const bool queued = enqueue([&] {
    try {
      work();
    } catch (...) {
      error = std::current_exception();
    }
    MutexLock doneLock(doneMutex);
    done = true;
    // Notify under the lock: the waiter may return and destroy doneSignal as
    // soon as it can observe `done`.
    doneSignal.notify_one();
  });
  if (!queued) return;
  {
    MutexLock lock(doneMutex);
    while (!done) doneSignal.wait(lock);
  }
  if (error) std::rethrow_exception(error);
}

}  // namespace harkwell
