#pragma once

#include <chrono>
#include <cstddef>
#include <thread>

// The run loop of the main thread: it services DispatchQueue::main().
// The main thread is fixed once: it is the first thread that calls
// adoptCurrentThread() or pumps (run(), drain(), drainFor()); before that, the
// process's initial thread answers to isMainThread(). Pumping or adopting on
// any other thread afterwards aborts the process: main-thread state touched
// from two threads is a race no test can be trusted to find. Only a test
// harness that runs the loop on a thread of its own moves the main thread, for
// the lifetime of a ScopedTestMainThread. A stop() that arrives while nothing
// pumps is kept and ends the next pump.
// Thread affinity: run() and drain() on the main thread; stop() and
// isMainThread() from any thread.
class MainRunLoop {
 public:
  // The one run loop of the process; never destroyed. Any thread.
  static MainRunLoop& shared();

  // Runs main-queue work on the main thread until stop() is called. Work still queued when it
  // returns stays queued.
  virtual void run() = 0;

  // Asks run() (or a drain) to return after the work item in progress. Any thread.
  virtual void stop() = 0;

  // Runs the queued main-queue work on the main thread until the queue is empty or stop() is
  // called; returns how many items ran. For tests that pump the main loop by hand.
  virtual std::size_t drain() = 0;

  // Like drain(), but waits up to `timeout` for work to arrive when the queue
  // is empty. For tests.
  virtual std::size_t drainFor(std::chrono::milliseconds timeout) = 0;

  // Fixes the calling thread as the main thread without running anything, as
  // NSApplicationMain does at start-up; aborts when another thread is already
  // the main thread. Idempotent on the main thread.
  virtual void adoptCurrentThread() = 0;

  // True on the thread currently acting as the main thread. Any thread.
  virtual bool isMainThread() const = 0;

  // Test harnesses only: makes the constructing thread the main thread until
  // destroyed, then gives the role back to the thread that held it. For a
  // fixture that runs the loop on a thread of its own; build and destroy it on
  // that thread while no other thread pumps.
  class ScopedTestMainThread {
   public:
    ScopedTestMainThread();
    ~ScopedTestMainThread();
    ScopedTestMainThread(const ScopedTestMainThread&) = delete;
    ScopedTestMainThread& operator=(const ScopedTestMainThread&) = delete;

   private:
    std::thread::id previous_;
  };

 protected:
  // Moves the main thread to `thread` (none: not fixed yet) and returns the
  // one before. For ScopedTestMainThread only.
  virtual std::thread::id rebind(std::thread::id thread) = 0;

  virtual ~MainRunLoop() = default;
};
