#include "platform/dispatch/SerialDispatchQueue.h"

#include <pthread.h>

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

bool SerialDispatchQueue::enqueue(State& state, Work work) {
  bool wakeWorker = false;
  {
    MutexLock lock(state.mutex);
    if (state.closing) return false;
    state.work.push(std::move(work));
    wakeWorker = std::exchange(state.workerParked, false);
  }
  // Outside the lock, so that the woken worker does not block on it at once.
  if (wakeWorker) state.wake.notify_one();
  return true;
}

void SerialDispatchQueue::async(Work work) {
  if (!work) return;
  enqueue(*state_, std::move(work));
}

void SerialDispatchQueue::sync(Work work) {
  if (!work) return;
  if (isCurrent()) {
    work();
    return;
  }
  harkwell::enqueueAndWait([this](Task item) { return enqueue(*state_, std::move(item)); }, work);
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
      while (state->work.empty() && !state->closing) {
        state->workerParked = true;
        state->wake.wait(lock);
      }
      // Woken by a sender (which cleared the flag), by closing or spuriously.
      state->workerParked = false;
      // Closing still drains: only an empty queue ends the worker.
      if (state->work.empty()) return;
      next = state->work.pop();
    }
    harkwell::runWork(next, label);
  }
}
