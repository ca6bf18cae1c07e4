#include "platform/appkit/TerminationSignals.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "platform/appkit/NSApplication.h"
#include "platform/dispatch/MainRunLoop.h"
#include "tests/platform/appkit/FreshApplication.h"

namespace {

using namespace std::chrono_literals;

// Ctrl-C and SIGTERM must end the application in an orderly way on the main
// thread, let the program (the console UI) step in first, and never leave the
// user without a way out. (A program that handles Ctrl-C itself is proven end
// to end by the binary's Ctrl-C test.)
using TerminationSignalsTest = FreshApplicationTest;

TEST_F(TerminationSignalsTest, AHandlerThatDeclinesLeavesTheOrderlyTermination) {
  app_.installTerminationSignalHandlers();
  app_.setTerminationRequestHandler([](int, int) { return false; });
  ASSERT_EQ(::raise(SIGTERM), 0);
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!app_.hasTerminated() && std::chrono::steady_clock::now() < deadline) {
    MainRunLoop::shared().drainFor(50ms);
  }
  ASSERT_TRUE(app_.hasTerminated());
  EXPECT_EQ(app_.exitStatus(), 128 + SIGTERM);
}

TEST_F(TerminationSignalsTest, ASecondSignalWhileTerminationIsPendingExitsAtOnce) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        NSApplication::shared().installTerminationSignalHandlers();
        // Nobody pumps the main loop: the orderly termination cannot finish.
        ::raise(SIGINT);
        ::raise(SIGINT);
        std::this_thread::sleep_for(10s);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(128 + SIGINT), "terminating at once");
}

}  // namespace
