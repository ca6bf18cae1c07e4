#pragma once

#include <chrono>
#include <cstddef>

// The run loop of the main thread: it services DispatchQueue::main().
// Thread affinity: run() and drain() on the thread that acts as the main thread;
// stop() and isMainThread() from any thread.
class MainRunLoop {
 public:
  static MainRunLoop& shared();

  // Makes the calling thread the main thread and runs main-queue work until
  // stop() is called. Work still queued when it returns stays queued.
  virtual void run() = 0;

  // Asks run() to return after the work item in progress. Any thread.
  virtual void stop() = 0;

  // Runs the queued main-queue work on the calling thread (which becomes the
  // main thread for its duration) until the queue is empty; returns how many
  // items ran. For tests that pump the main loop by hand.
  virtual std::size_t drain() = 0;

  // Like drain(), but waits up to `timeout` for work to arrive when the queue
  // is empty, and returns after the first batch. For tests.
  virtual std::size_t drainFor(std::chrono::milliseconds timeout) = 0;

  // True on the thread currently acting as the main thread. Any thread.
  virtual bool isMainThread() const = 0;

 protected:
  virtual ~MainRunLoop() = default;
};
