#include "platform/dispatch/CallbackGate.h"

#include <algorithm>
#include <iterator>
#include <vector>

namespace harkwell {

namespace {

// Gates the calling thread is inside right now, innermost last. close() counts
// them so that a callback closing its own gate does not wait on itself.
thread_local std::vector<const CallbackGate*> enteredOnThisThread;

}  // namespace

bool CallbackGate::enter() {
  {
    MutexLock lock(mutex_);
    if (!open_) return false;
    ++admitted_;
  }
  enteredOnThisThread.push_back(this);
  return true;
}

void CallbackGate::leave() {
  auto it = std::find(enteredOnThisThread.rbegin(), enteredOnThisThread.rend(), this);
  if (it != enteredOnThisThread.rend()) enteredOnThisThread.erase(std::next(it).base());
  MutexLock lock(mutex_);
  --admitted_;
  if (closers_ > 0) idle_.notify_all();
}

void CallbackGate::open() {
  MutexLock lock(mutex_);
  open_ = true;
}

void CallbackGate::close() {
  const auto own =
      static_cast<int>(std::count(enteredOnThisThread.begin(), enteredOnThisThread.end(), this));
  MutexLock lock(mutex_);
  open_ = false;
  ++closers_;
  // The mutex is released while waiting, so admitted callbacks can leave.
  while (admitted_ > own) idle_.wait(lock);
  --closers_;
}

bool CallbackGate::isOpen() const {
  MutexLock lock(mutex_);
  return open_;
}

}  // namespace harkwell
