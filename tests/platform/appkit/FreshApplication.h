#pragma once

#include <gtest/gtest.h>

#include "platform/appkit/NSApplication.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/MainRunLoop.h"

// The shared application and the main loop are process-wide: every test starts
// with both empty, on a test thread that is the main thread.
class FreshApplicationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MainRunLoop::shared().adoptCurrentThread();
    // Runs leftover work (a terminate, say) before the application forgets it,
    // and consumes any stop it causes.
    while (MainRunLoop::shared().drain() > 0) {
    }
    NSApplication::shared().resetForTesting();
    MainRunLoop::shared().stop();
    MainRunLoop::shared().drain();
  }
  void TearDown() override { SetUp(); }

  // True when the main loop was asked to stop: work queued behind the check
  // then stays queued. Main thread.
  static bool loopWasStopped() {
    bool ran = false;
    DispatchQueue::main().async([&ran] { ran = true; });
    MainRunLoop::shared().drain();
    const bool stopped = !ran;
    if (stopped) MainRunLoop::shared().drain();  // the check item must not outlive `ran`
    return stopped;
  }

  NSApplication& app_ = NSApplication::shared();
};
