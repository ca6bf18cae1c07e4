#include "platform/appkit/NSApplication.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/MainRunLoop.h"
#include "tests/platform/appkit/FreshApplication.h"

namespace {

struct RecordingDelegate : NSApplicationDelegate {
  bool applicationShouldTerminateAfterLastWindowClosed(NSApplication&) override {
    ++lastWindowQuestions;
    return true;
  }
  void applicationWillTerminate(NSApplication&) override { ++willTerminate; }
  int lastWindowQuestions = 0, willTerminate = 0;
};

// terminate is how the application ends: it must stop the main run loop from
// any thread, after the work already queued, exactly once; and the process
// outlives its last window unless the delegate says otherwise (the
// application's own delegate, which says no, is tested with it).
class NSApplicationTest : public FreshApplicationTest {
 protected:
  std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
};

TEST_F(NSApplicationTest, TerminateFromAnotherThreadStopsARunningLoopOnceAfterEarlierWork) {
  app_.setDelegate(delegate_);
  bool earlierRan = false;
  DispatchQueue::main().async([&] { earlierRan = true; });
  std::thread loopThread([] {
    MainRunLoop::ScopedTestMainThread thisIsMain;
    MainRunLoop::shared().run();
  });
  std::thread([this] {
    app_.terminate(3);
    app_.terminate(9);
  }).join();
  loopThread.join();
  EXPECT_TRUE(earlierRan);
  EXPECT_EQ(app_.exitStatus(), 3);
  EXPECT_EQ(delegate_->willTerminate, 1);
  EXPECT_FALSE(loopWasStopped());
}

TEST_F(NSApplicationTest, OnlyClosingTheLastVisibleWindowAsksTheDelegateWhetherToTerminate) {
  app_.setDelegate(delegate_);
  std::shared_ptr<NSWindow> windows[2];
  for (auto& window : windows) {
    window = std::make_shared<NSWindow>(NSMakeRect(0, 0, 640, 480), NSWindowStyleMask::titled,
                                        NSBackingStoreType::buffered, false);
    app_.addWindow(window);
    window->makeKeyAndOrderFront(nullptr);
  }
  windows[0]->close();
  EXPECT_EQ(delegate_->lastWindowQuestions, 0);
  EXPECT_FALSE(loopWasStopped());
  windows[1]->close();
  EXPECT_EQ(delegate_->lastWindowQuestions, 1);
  EXPECT_TRUE(loopWasStopped());
  EXPECT_TRUE(app_.hasTerminated());
}

}  // namespace
