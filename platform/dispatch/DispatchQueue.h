#pragma once

#include <functional>
#include <memory>
#include <string>

// A serial dispatch queue: work items run one at a time, in submission order,
// never overlapping. Thread affinity: every method may be called from any thread.
class DispatchQueue {
 public:
  using Work = std::function<void()>;

  virtual ~DispatchQueue() = default;

  // Enqueues work and returns at once. Any thread.
  virtual void async(Work work) = 0;

  // Runs work on the queue and waits for it to finish. Must not be called from
  // the queue itself (that would wait on itself); doing so runs the work inline.
  // Any thread.
  virtual void sync(Work work) = 0;

  // True when the calling thread is currently running this queue's work. Any thread.
  virtual bool isCurrent() const = 0;

  virtual const std::string& label() const = 0;

  // A new serial queue with its own thread named after `label` (truncated to
  // the 15 characters Linux allows). The queue's factory may be replaced in
  // tests (see DispatchQueueFactory.h). Any thread.
  static std::shared_ptr<DispatchQueue> makeSerial(std::string label);

  // The main queue, serviced by MainRunLoop. Any thread.
  static DispatchQueue& main();
};
