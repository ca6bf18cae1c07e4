#pragma once

#include <chrono>
#include <cstddef>

// The run loop of the main thread: it services DispatchQueue::main().
// The main thread is the thread that last ran run(), drain() or drainFor(), or
// called makeCurrentThreadMain(); before any of these, the process's initial
// thread. Only one thread pumps at a time: a second pump waits for the first to
// return. A stop() that arrives while nothing pumps is kept and ends the next pump.
// Thread affinity: run() and drain() on the thread that acts as the main thread;
// stop() and isMainThread() from any thread.
class MainRunLoop {
 public:
  // The one run loop of the process; never destroyed. Any thread.
  static MainRunLoop& shared();

  // Makes the calling thread the main thread and runs main-queue work until
  // stop() is called. Work still queued when it returns stays queued.
  virtual void run() = 0;

  // Asks run() (or a drain) to return after the work item in progress. Any thread.
  virtual void stop() = 0;

  // Runs the queued main-queue work on the calling thread (which becomes the
  // main thread) until the queue is empty or stop() is called; returns how many
  // items ran. For tests that pump the main loop by hand.
  virtual std::size_t drain() = 0;

  // Like drain(), but waits up to `timeout` for work to arrive when the queue
  // is empty. For tests.
  virtual std::size_t drainFor(std::chrono::milliseconds timeout) = 0;

  // Makes the calling thread the main thread without running anything, as
  // NSApplicationMain does before it loads the main interface. Call it only
  // while no other thread pumps. Any thread.
  virtual void makeCurrentThreadMain() = 0;

  // True on the thread currently acting as the main thread. Any thread.
  virtual bool isMainThread() const = 0;

 protected:
  virtual ~MainRunLoop() = default;
};
