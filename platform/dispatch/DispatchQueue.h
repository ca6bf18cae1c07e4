#pragma once

#include <memory>
#include <string>

#include "platform/dispatch/Task.h"

// A serial dispatch queue: work items run one at a time, in submission order,
// never overlapping. An exception escaping a work item is caught and reported on
// standard error (sync hands it back to its caller instead).
// Thread affinity: every method may be called from any thread.
class DispatchQueue {
 public:
  // Small closures are kept inside the Task: queueing them allocates nothing.
  using Work = Task;

  virtual ~DispatchQueue() = default;

  // Enqueues work and returns at once. Any thread.
  virtual void async(Work work) = 0;

  // Runs work on the queue and waits for it to finish; an exception thrown by
  // `work` is rethrown here. From the queue itself (which would wait on itself)
  // the work runs inline instead. Any thread.
  virtual void sync(Work work) = 0;

  // True when the calling thread is currently running this queue's work. Any thread.
  virtual bool isCurrent() const = 0;

  virtual const std::string& label() const = 0;

  // A new serial queue with its own thread named after `label` (truncated to
  // the 15 characters Linux allows). Dropping the last reference drains the
  // queue: work already queued still runs, work submitted afterwards is
  // dropped. The queue's factory may be replaced in tests (see
  // DispatchQueueFactory.h). Any thread.
  static std::shared_ptr<DispatchQueue> makeSerial(std::string label);

  // The main queue, serviced by MainRunLoop. Any thread.
  static DispatchQueue& main();
};
