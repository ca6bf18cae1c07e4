#include "platform/appkit/NSApplication.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <utility>

#include "platform/appkit/TerminationSignals.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/MainRunLoop.h"

namespace {

// Shell convention for a process ended by a signal.
int statusForSignal(int signalNumber) {
  return 128 + signalNumber;
}

}  // namespace

NSApplication& NSApplication::shared() {
  // Never destroyed: the windows and delegate it keeps may refer to threads
  // still running while the process exits.
  static NSApplication* application = new NSApplication;
  return *application;
}

void NSApplication::addWindow(std::shared_ptr<NSWindow> window) {
  if (!window || window->application_ == this) return;
  window->application_ = this;
  if (window->isVisible()) order_.push_back(window.get());
  windows_.push_back(std::move(window));
}

std::vector<NSWindow*> NSApplication::orderedVisibleWindows() const {
  std::vector<NSWindow*> visible;
  for (NSWindow* window : order_) {
    if (window->isVisible()) visible.push_back(window);
  }
  // Windows made visible without being ordered front go behind the others.
  for (const auto& window : windows_) {
    if (window->isVisible() &&
        std::find(visible.begin(), visible.end(), window.get()) == visible.end()) {
      visible.push_back(window.get());
    }
  }
  return visible;
}

void NSApplication::setDelegate(std::shared_ptr<NSApplicationDelegate> delegate) {
  delegate_ = std::move(delegate);
}

void NSApplication::activateIgnoringOtherApps(bool /*flag*/) {
  ++activationCount_;
}

void NSApplication::handleReopen() {
  if (!delegate_) return;
  const bool hasVisibleWindows =
      std::any_of(windows_.begin(), windows_.end(), [](const auto& w) { return w->isVisible(); });
  // The delegate keeps the application alive while it answers.
  auto delegate = delegate_;
  delegate->applicationShouldHandleReopen(*this, hasVisibleWindows);
}

void NSApplication::terminate(int exitStatus) {
  // Always through the main queue, also from the main thread, so that the work
  // queued before the request still runs and termination happens in one place.
  DispatchQueue::main().async([this, exitStatus] { finishTermination(exitStatus); });
}

void NSApplication::finishTermination(int exitStatus) {
  if (terminated_.exchange(true)) return;
  exitStatus_.store(exitStatus);
  if (auto delegate = delegate_) delegate->applicationWillTerminate(*this);
  MainRunLoop::shared().stop();
}

void NSApplication::setTerminationRequestHandler(TerminationRequestHandler handler) {
  MutexLock lock(signalMutex_);
  terminationRequestHandler_ = std::move(handler);
}

void NSApplication::installTerminationSignalHandlers() {
  harkwell::TerminationSignals::install(
      [this](int signalNumber) { terminationSignalReceived(signalNumber); });
}

void NSApplication::terminationSignalReceived(int signalNumber) {
  TerminationRequestHandler handler;
  int count = 0;
  {
    MutexLock lock(signalMutex_);
    count = ++signalCount_;
    handler = terminationRequestHandler_;
  }
  // Outside the lock: the handler may install another handler.
  if (handler && handler(signalNumber, count)) return;
  if (count >= 2) {
    // The user insists while an earlier request is still being dealt with: the
    // main thread may be stuck, so end here without running any more of our code.
    static constexpr char message[] = "harkwell: terminating at once\n";
    const ssize_t ignored = ::write(STDERR_FILENO, message, sizeof message - 1);
    (void)ignored;
    ::_exit(statusForSignal(signalNumber));
  }
  terminate(statusForSignal(signalNumber));
}

void NSApplication::windowBecameKeyAndFront(NSWindow& window) {
  keyWindow_ = &window;
  order_.erase(std::remove(order_.begin(), order_.end(), &window), order_.end());
  order_.insert(order_.begin(), &window);
}

void NSApplication::windowDidClose(NSWindow& window) {
  if (keyWindow_ == &window) keyWindow_ = nullptr;
  order_.erase(std::remove(order_.begin(), order_.end(), &window), order_.end());
  const bool anyVisible =
      std::any_of(windows_.begin(), windows_.end(), [](const auto& w) { return w->isVisible(); });
  if (anyVisible || !delegate_) return;
  auto delegate = delegate_;
  if (delegate->applicationShouldTerminateAfterLastWindowClosed(*this)) terminate();
}

void NSApplication::resetForTesting() {
  for (const auto& window : windows_) window->application_ = nullptr;
  windows_.clear();
  order_.clear();
  keyWindow_ = nullptr;
  delegate_.reset();
  activationCount_ = 0;
  terminated_.store(false);
  exitStatus_.store(0);
  MutexLock lock(signalMutex_);
  terminationRequestHandler_ = nullptr;
  signalCount_ = 0;
}
