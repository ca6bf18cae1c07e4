#include "platform/dispatch/SerialDispatchQueue.h"

#include <pthread.h>

#include <exception>
#include <utility>

#include "platform/dispatch/RunWork.h"

namespace {

// Linux limits thread names to 15 characters plus the terminator.
constexpr std::size_t maxThreadNameLength = 15;

}  // namespace

SerialDispatchQueue::SerialDispatchQueue(std::string label)
    : label_(std::move(label)), state_(std::make_shared<State>()) {
  thread_ = std::thread(&SerialDispatchQueue::runWorker, state_, label_);
  threadId_ = thread_.get_id();
}

SerialDispatchQueue::~SerialDispatchQueue() {
  {
    MutexLock lock(state_->mutex);
    state_->closing = true;
  }
  state_->wake.notify_one();
  if (std::this_thread::get_id() == threadId_) {
    // The last reference went away inside one of our own work items: joining
    // would wait on ourselves. The worker owns the state and finishes alone.
    thread_.detach();
  } else {
    thread_.join();
  }
}

void SerialDispatchQueue::async(Work work) {
  if (!work) return;
  {
    MutexLock lock(state_->mutex);
    if (state_->closing) return;
    state_->work.push_back(std::move(work));
  }
  state_->wake.notify_one();
}

void SerialDispatchQueue::sync(Work work) {
  if (!work) return;
  if (isCurrent()) {
    work();
    return;
  }
  // The waiter's state lives on this stack frame; the queue either runs the
  // item (and signals) or refuses it up front, so it never outlives the frame.
  Mutex doneMutex;
  std::condition_variable_any doneSignal;
  bool done = false;
  std::exception_ptr error;
  {
    MutexLock lock(state_->mutex);
    if (state_->closing) return;
    state_->work.push_back([&] {
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
  }
  state_->wake.notify_one();
  {
    MutexLock lock(doneMutex);
    while (!done) doneSignal.wait(lock);
  }
  if (error) std::rethrow_exception(error);
}

bool SerialDispatchQueue::isCurrent() const {
  return std::this_thread::get_id() == threadId_;
}

void SerialDispatchQueue::runWorker(std::shared_ptr<State> state, std::string label) {
  pthread_setname_np(pthread_self(), label.substr(0, maxThreadNameLength).c_str());
  for (;;) {
    Work next;
    {
      MutexLock lock(state->mutex);
      while (state->work.empty() && !state->closing) state->wake.wait(lock);
      // Closing still drains: only an empty queue ends the worker.
      if (state->work.empty()) return;
      next = std::move(state->work.front());
      state->work.pop_front();
    }
    harkwell::runWork(next, label);
  }
}
