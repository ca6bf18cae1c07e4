#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "platform/appkit/NSApplicationDelegate.h"
#include "platform/appkit/NSObject.h"
#include "platform/appkit/NSWindow.h"
#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/ThreadSafety.h"

// The application object: its windows, its delegate, activation and orderly
// termination. terminate() stops the main run loop after the work already
// queued on it, so NSApplicationMain returns.
// Termination signals (SIGINT, SIGTERM), once installed, reach the program's
// termination request handler first, on the signal thread. Without a handler,
// or when it declines, the first termination signal terminates in an orderly
// way with status 128 + signal number, and any later one (the user insisting,
// however the first was dealt with) exits the process at once with that status.
// Thread affinity: main thread, except terminate(), exitStatus(),
// hasTerminated(), setTerminationRequestHandler() and
// installTerminationSignalHandlers(), which take any thread.
class NSApplication : public NSObject {
 public:
  // Told of a termination signal before the application acts on it, with the
  // signal number and how many termination signals have arrived so far.
  // Returns true when the program deals with it itself (the application then
  // does nothing). Runs on the signal thread: keep it short and non-blocking.
  using TerminationRequestHandler = std::function<bool(int signalNumber, int count)>;

  // The shared application (NSApp). Never destroyed. Any thread.
  static NSApplication& shared();

  NSApplication(const NSApplication&) = delete;
  NSApplication& operator=(const NSApplication&) = delete;

  // Every window of the application, in the order they were added, hidden and
  // closed ones included. Main thread.
  const std::vector<std::shared_ptr<NSWindow>>& windows() const { return windows_; }
  // Adds a window (once; adding it again changes nothing). Main thread.
  void addWindow(std::shared_ptr<NSWindow> window);
  // The window most recently made key, or null. Main thread.
  NSWindow* keyWindow() const { return keyWindow_; }
  // The visible windows, front to back. Main thread.
  std::vector<NSWindow*> orderedVisibleWindows() const;

  // The application keeps its delegate alive. Null when none. Main thread.
  NSApplicationDelegate* delegate() const { return delegate_.get(); }
  void setDelegate(std::shared_ptr<NSApplicationDelegate> delegate);

  // Brings the application forward. Main thread.
  void activateIgnoringOtherApps(bool flag);
  // How many times the application was activated; for tests. Main thread.
  int activationCount() const { return activationCount_; }

  // The user reopened the running application (as by its Dock icon): asks the
  // delegate, telling it whether any window is visible. Main thread.
  void handleReopen();

  // Ends the application in an orderly way: on the main thread, after the work
  // queued before this call, tells the delegate and stops the main run loop;
  // NSApplicationMain then returns `exitStatus`. Later calls change nothing.
  // Any thread.
  void terminate(int exitStatus = 0);
  // Any thread.
  bool hasTerminated() const { return terminated_.load(); }
  int exitStatus() const { return exitStatus_.load(); }

  // Installs (or, with an empty handler, removes) the program's handler for
  // termination signals. Any thread.
  void setTerminationRequestHandler(TerminationRequestHandler handler);

  // Routes SIGINT and SIGTERM to this application (see the class comment).
  // Idempotent. NSApplicationMain calls it. Any thread.
  void installTerminationSignalHandlers();

  // Forgets windows, delegate, counts, termination state and the signal
  // handler, so that tests start from a fresh application. Drain the main loop
  // first: a terminate still queued would otherwise end the next test's run.
  // Main thread.
  void resetForTesting();

 private:
  friend class NSWindow;

  NSApplication() = default;

  // Main thread.
  void windowBecameKeyAndFront(NSWindow& window);
  void windowDidClose(NSWindow& window);
  void finishTermination(int exitStatus);
  // Signal thread.
  void terminationSignalReceived(int signalNumber);

  std::vector<std::shared_ptr<NSWindow>> windows_;
  // Front to back; only windows of windows_.
  std::vector<NSWindow*> order_;
  NSWindow* keyWindow_ = nullptr;
  std::shared_ptr<NSApplicationDelegate> delegate_;
  int activationCount_ = 0;

  std::atomic<bool> terminated_{false};
  std::atomic<int> exitStatus_{0};

  Mutex signalMutex_;
  TerminationRequestHandler terminationRequestHandler_ GUARDED_BY(signalMutex_);
  int signalCount_ GUARDED_BY(signalMutex_) = 0;
};
