#include "platform/flutter/FlutterCallbackGate.h"

#include <algorithm>
#include <vector>

namespace {

// Gates the calling thread is inside right now, innermost last. close() uses it
// so that a callback destroying its own engine does not wait on itself.
thread_local std::vector<const FlutterCallbackGate*> enteredOnThisThread;

}  // namespace

FlutterCallbackGate::Entry::Entry(FlutterCallbackGate& gate)
    : gate_(gate), admitted_(gate.enter()) {}

FlutterCallbackGate::Entry::~Entry() {
  if (admitted_) gate_.leave();
}

bool FlutterCallbackGate::enter() {
  {
    MutexLock lock(mutex_);
    if (closed_) return false;
    ++active_;
  }
  enteredOnThisThread.push_back(this);
  return true;
}

void FlutterCallbackGate::leave() {
  auto it = std::find(enteredOnThisThread.rbegin(), enteredOnThisThread.rend(), this);
  if (it != enteredOnThisThread.rend()) enteredOnThisThread.erase(std::next(it).base());
  MutexLock lock(mutex_);
  --active_;
  // Only close() waits on this; waking it for every callback would be wasted work.
  if (closed_) idle_.notify_all();
}

void FlutterCallbackGate::close() {
  const auto own =
      static_cast<int>(std::count(enteredOnThisThread.begin(), enteredOnThisThread.end(), this));
  MutexLock lock(mutex_);
  closed_ = true;
  // The mutex is released while waiting, so admitted callbacks can leave.
  while (active_ > own) idle_.wait(lock);
}

bool FlutterCallbackGate::isClosed() const {
  MutexLock lock(mutex_);
  return closed_;
}
