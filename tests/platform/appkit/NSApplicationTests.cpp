#include "platform/appkit/NSApplication.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/MainRunLoop.h"
#include "tests/platform/appkit/FreshApplication.h"

namespace {

class RecordingDelegate : public NSApplicationDelegate {
 public:
  explicit RecordingDelegate(bool terminateAfterLastWindow)
      : terminateAfterLastWindow_(terminateAfterLastWindow) {}

  bool applicationShouldTerminateAfterLastWindowClosed(NSApplication&) override {
    ++lastWindowQuestions;
    return terminateAfterLastWindow_;
  }
  void applicationWillTerminate(NSApplication&) override { ++willTerminate; }

  int lastWindowQuestions = 0;
  int willTerminate = 0;

 private:
  bool terminateAfterLastWindow_;
};

std::shared_ptr<NSWindow> makeWindow() {
  return std::make_shared<NSWindow>(NSMakeRect(0, 0, 640, 480), NSWindowStyleMask::titled,
                                    NSBackingStoreType::buffered, false);
}

// terminate is how the application ends: it must stop the main run loop from
// any thread, after the work already queued, exactly once.
class NSApplicationTest : public FreshApplicationTest {};

TEST_F(NSApplicationTest, TerminateFromAnotherThreadStopsARunningLoopOnceAfterEarlierWork) {
  auto delegate = std::make_shared<RecordingDelegate>(false);
  app_.setDelegate(delegate);
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
  EXPECT_TRUE(app_.hasTerminated());
  EXPECT_EQ(app_.exitStatus(), 3);
  EXPECT_EQ(delegate->willTerminate, 1);
  EXPECT_FALSE(loopWasStopped());
}

// The process outlives its last window unless the delegate says otherwise
// (the application's own delegate, which says no, is tested with it).
TEST_F(NSApplicationTest, OnlyClosingTheLastVisibleWindowAsksTheDelegateWhetherToTerminate) {
  auto delegate = std::make_shared<RecordingDelegate>(true);
  app_.setDelegate(delegate);
  auto first = makeWindow();
  auto second = makeWindow();
  app_.addWindow(first);
  app_.addWindow(second);
  first->makeKeyAndOrderFront(nullptr);
  second->makeKeyAndOrderFront(nullptr);
  first->close();
  EXPECT_EQ(delegate->lastWindowQuestions, 0);
  EXPECT_FALSE(loopWasStopped());
  second->close();
  EXPECT_EQ(delegate->lastWindowQuestions, 1);
  EXPECT_TRUE(loopWasStopped());
  EXPECT_TRUE(app_.hasTerminated());
}

}  // namespace
