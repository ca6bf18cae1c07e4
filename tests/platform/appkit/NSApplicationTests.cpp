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
  bool applicationShouldHandleReopen(NSApplication&, bool hasVisibleWindows) override {
    reopenAnswers.push_back(hasVisibleWindows);
    return true;
  }
  void applicationWillTerminate(NSApplication&) override { ++willTerminate; }

  int lastWindowQuestions = 0;
  int willTerminate = 0;
  std::vector<bool> reopenAnswers;

 private:
  bool terminateAfterLastWindow_;
};

std::shared_ptr<NSWindow> makeWindow() {
  return std::make_shared<NSWindow>(NSMakeRect(0, 0, 640, 480), NSWindowStyleMask::titled,
                                    NSBackingStoreType::buffered, false);
}

// terminate is how the application ends: it must stop the main run loop from
// any thread, after the work already queued, exactly once.
class NSApplicationTerminateTest : public FreshApplicationTest {};

TEST_F(NSApplicationTerminateTest, FromAnotherThreadStopsARunningLoopWithItsStatus) {
  auto delegate = std::make_shared<RecordingDelegate>(false);
  app_.setDelegate(delegate);
  std::thread loopThread([] { MainRunLoop::shared().run(); });
  std::thread([this] { app_.terminate(3); }).join();
  loopThread.join();
  EXPECT_TRUE(app_.hasTerminated());
  EXPECT_EQ(app_.exitStatus(), 3);
  EXPECT_EQ(delegate->willTerminate, 1);
}

TEST_F(NSApplicationTerminateTest, RunsWorkQueuedBeforeTheRequestFirst) {
  bool earlierRan = false;
  DispatchQueue::main().async([&] { earlierRan = true; });
  app_.terminate();
  MainRunLoop::shared().run();
  EXPECT_TRUE(earlierRan);
}

TEST_F(NSApplicationTerminateTest, ASecondRequestChangesNothing) {
  app_.terminate(4);
  app_.terminate(9);
  MainRunLoop::shared().run();
  EXPECT_EQ(app_.exitStatus(), 4);
  EXPECT_FALSE(loopWasStopped());
}

// The process outlives its last window unless the delegate says otherwise.
class NSApplicationLastWindowTest : public FreshApplicationTest {};

TEST_F(NSApplicationLastWindowTest, ClosingTheLastWindowKeepsRunningWhenTheDelegateSaysNo) {
  auto delegate = std::make_shared<RecordingDelegate>(false);
  app_.setDelegate(delegate);
  auto window = makeWindow();
  app_.addWindow(window);
  window->makeKeyAndOrderFront(nullptr);
  window->close();
  EXPECT_EQ(delegate->lastWindowQuestions, 1);
  EXPECT_FALSE(loopWasStopped());
  EXPECT_FALSE(app_.hasTerminated());
  EXPECT_EQ(app_.windows().size(), 1u);
  EXPECT_FALSE(window->isVisible());
}

TEST_F(NSApplicationLastWindowTest, ClosingTheLastWindowTerminatesWhenTheDelegateSaysYes) {
  app_.setDelegate(std::make_shared<RecordingDelegate>(true));
  auto window = makeWindow();
  app_.addWindow(window);
  window->makeKeyAndOrderFront(nullptr);
  window->close();
  EXPECT_TRUE(loopWasStopped());
  EXPECT_TRUE(app_.hasTerminated());
}

TEST_F(NSApplicationLastWindowTest, ClosingOneOfTwoVisibleWindowsAsksNothing) {
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
}

TEST_F(NSApplicationLastWindowTest, WithoutADelegateClosingTheLastWindowKeepsRunning) {
  auto window = makeWindow();
  app_.addWindow(window);
  window->makeKeyAndOrderFront(nullptr);
  window->close();
  EXPECT_FALSE(loopWasStopped());
}

// Window ordering and activation are what a reopen acts on.
class NSApplicationWindowOrderTest : public FreshApplicationTest {};

TEST_F(NSApplicationWindowOrderTest, MakeKeyAndOrderFrontShowsTheWindowInFrontAsKey) {
  auto back = makeWindow();
  auto front = makeWindow();
  app_.addWindow(back);
  app_.addWindow(front);
  back->makeKeyAndOrderFront(nullptr);
  front->makeKeyAndOrderFront(nullptr);
  EXPECT_TRUE(front->isKeyWindow());
  EXPECT_FALSE(back->isKeyWindow());
  EXPECT_EQ(app_.orderedVisibleWindows(), (std::vector<NSWindow*>{front.get(), back.get()}));
  back->makeKeyAndOrderFront(nullptr);
  EXPECT_EQ(app_.orderedVisibleWindows(), (std::vector<NSWindow*>{back.get(), front.get()}));
}

TEST_F(NSApplicationWindowOrderTest, ReopenTellsTheDelegateWhetherAnyWindowIsVisible) {
  auto delegate = std::make_shared<RecordingDelegate>(false);
  app_.setDelegate(delegate);
  auto window = makeWindow();
  app_.addWindow(window);
  app_.handleReopen();
  window->makeKeyAndOrderFront(nullptr);
  app_.handleReopen();
  EXPECT_EQ(delegate->reopenAnswers, (std::vector<bool>{false, true}));
}

TEST_F(NSApplicationWindowOrderTest, CountsEveryActivation) {
  app_.activateIgnoringOtherApps(true);
  app_.activateIgnoringOtherApps(true);
  EXPECT_EQ(app_.activationCount(), 2);
}

TEST_F(NSApplicationWindowOrderTest, AddingAWindowTwiceListsItOnce) {
  auto window = makeWindow();
  app_.addWindow(window);
  app_.addWindow(window);
  EXPECT_EQ(app_.windows().size(), 1u);
}

}  // namespace
