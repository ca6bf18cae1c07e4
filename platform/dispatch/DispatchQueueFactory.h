#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/dispatch/DispatchQueue.h"

// What DispatchQueue::makeSerial builds. By default a SerialDispatchQueue with a
// thread of its own; tests install a maker that returns manual queues.
// Thread affinity: any thread; installing and making may race safely.
class DispatchQueueFactory {
 public:
  using Maker = std::function<std::shared_ptr<DispatchQueue>(std::string label)>;

  // Builds a queue with the maker installed now. Any thread.
  static std::shared_ptr<DispatchQueue> make(std::string label);

  // Installs `maker` (empty restores the default) and returns the one it
  // replaces (empty when that was the default). A maker that returns null
  // gets the default queue instead. Any thread.
  static Maker exchange(Maker maker);
};

// Installs a maker for the lifetime of the object and puts the previous one back
// on destruction. Scopes nest; destroy them in reverse order of creation.
// Thread affinity: create and destroy on the same thread.
class ScopedDispatchQueueFactory {
 public:
  explicit ScopedDispatchQueueFactory(DispatchQueueFactory::Maker maker)
      : previous_(DispatchQueueFactory::exchange(std::move(maker))) {}
  ~ScopedDispatchQueueFactory() { DispatchQueueFactory::exchange(std::move(previous_)); }

  ScopedDispatchQueueFactory(const ScopedDispatchQueueFactory&) = delete;
  ScopedDispatchQueueFactory& operator=(const ScopedDispatchQueueFactory&) = delete;

 private:
  DispatchQueueFactory::Maker previous_;
};
