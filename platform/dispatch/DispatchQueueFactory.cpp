#include "platform/dispatch/DispatchQueueFactory.h"

#include <utility>

#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/SerialDispatchQueue.h"
#include "platform/dispatch/ThreadSafety.h"

namespace {

struct FactoryState {
  Mutex mutex;
  DispatchQueueFactory::Maker maker GUARDED_BY(mutex);
};

FactoryState& factoryState() {
  // Never destroyed: queues may still be made by threads that outlive static destruction.
  static FactoryState* state = new FactoryState;
  return *state;
}

}  // namespace

std::shared_ptr<DispatchQueue> DispatchQueueFactory::make(std::string label) {
  Maker maker;
  {
    FactoryState& state = factoryState();
    MutexLock lock(state.mutex);
    maker = state.maker;
  }
  // The maker runs outside the lock so that it may itself make queues.
  if (maker) {
    if (auto queue = maker(label)) return queue;
  }
  return std::make_shared<SerialDispatchQueue>(std::move(label));
}

DispatchQueueFactory::Maker DispatchQueueFactory::exchange(Maker maker) {
  FactoryState& state = factoryState();
  MutexLock lock(state.mutex);
  std::swap(state.maker, maker);
  return maker;
}

std::shared_ptr<DispatchQueue> DispatchQueue::makeSerial(std::string label) {
  return DispatchQueueFactory::make(std::move(label));
}
