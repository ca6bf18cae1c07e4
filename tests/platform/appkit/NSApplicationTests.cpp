#include "platform/appkit/NSApplication.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <memory>
#include <thread>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/MainRunLoop.h"
#include "tests/platform/appkit/FreshApplication.h"

namespace {

using namespace std::chrono_literals;

struct RecordingDelegate : NSApplicationDelegate {
  bool applicationShouldTerminateAfterLastWindowClosed(NSApplication&) override {
    return ++lastWindowQuestions > 0;
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

// Ctrl-C and SIGTERM must end the application in an orderly way on the main
// thread, let the program (the console UI) step in first, and never leave the
// user without a way out. (A program that handles Ctrl-C itself is proven end
// to end by the binary's Ctrl-C test.)
TEST_F(NSApplicationTest, ASignalThatTheHandlerDeclinesTerminatesInOrder) {
  app_.installTerminationSignalHandlers();
  app_.setTerminationRequestHandler([](int, int) { return false; });
  ASSERT_EQ(::raise(SIGTERM), 0);
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!app_.hasTerminated() && std::chrono::steady_clock::now() < deadline) {
    MainRunLoop::shared().drainFor(50ms);
  }
  EXPECT_EQ(app_.exitStatus(), 128 + SIGTERM);
}

TEST_F(NSApplicationTest, ASecondSignalWhileTerminationIsPendingExitsAtOnce) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        app_.installTerminationSignalHandlers();
        // Nobody pumps the main loop: the orderly termination cannot finish.
        ::raise(SIGINT);
        ::raise(SIGINT);
        std::this_thread::sleep_for(10s);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(128 + SIGINT), "terminating at once");
}

}  // namespace
