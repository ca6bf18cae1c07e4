#include "platform/appkit/NSApplication.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <memory>
#include <thread>

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

// The process outlives its last window unless the delegate says otherwise (the
// application's own delegate, which says no, is tested with it), and then it
// terminates once. (terminate from another thread, on a loop running there, is
// proven by the binary's tests and the host harness.)
using NSApplicationTest = FreshApplicationTest;

TEST_F(NSApplicationTest, OnlyClosingTheLastVisibleWindowAsksTheDelegateWhetherToTerminate) {
  auto delegate = std::make_shared<RecordingDelegate>();
  app_.setDelegate(delegate);
  std::shared_ptr<NSWindow> windows[2];
  for (auto& window : windows) {
    window = std::make_shared<NSWindow>(NSMakeRect(0, 0, 640, 480), NSWindowStyleMask::titled,
                                        NSBackingStoreType::buffered, false);
    app_.addWindow(window);
    window->makeKeyAndOrderFront(nullptr);
  }
  windows[0]->close();
  EXPECT_EQ(delegate->lastWindowQuestions, 0);
  EXPECT_FALSE(loopWasStopped());
  windows[1]->close();
  app_.terminate(9);  // changes nothing once terminating
  EXPECT_EQ(delegate->lastWindowQuestions, 1);
  EXPECT_TRUE(loopWasStopped());
  EXPECT_EQ(app_.exitStatus(), 0);
  EXPECT_EQ(delegate->willTerminate, 1);
}

// Ctrl-C and SIGTERM must end the application in an orderly way on the main
// thread, let the program (the console UI) step in first, and never leave the
// user without a way out. (A program that handles Ctrl-C itself is proven end
// to end by the binary's Ctrl-C test.)
TEST_F(NSApplicationTest, ASignalThatTheHandlerDeclinesTerminatesInOrder) {
  app_.installTerminationSignalHandlers();
  app_.setTerminationRequestHandler([](int, int) { return false; });
  ASSERT_EQ(::raise(SIGTERM), 0);
  for (int i = 0; i < 200 && !app_.hasTerminated(); ++i) MainRunLoop::shared().drainFor(50ms);
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
      },
      ::testing::ExitedWithCode(128 + SIGINT), "terminating at once");
}

}  // namespace
