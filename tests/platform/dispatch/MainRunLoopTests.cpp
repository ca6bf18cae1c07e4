#include "platform/dispatch/MainRunLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "platform/dispatch/DispatchQueue.h"

namespace {

using namespace std::chrono_literals;

// Every host handler runs on the main loop: a stop asked before the loop runs
// must not be lost, a failing handler must not end the loop, and sync from
// another thread must run on the main thread (and inline on it, not deadlock).
// Cross-thread ordering on the loop is proven by the engine's ordering test.
class MainRunLoopTest : public ::testing::Test {
 protected:
  // The loop is process-wide: leave no queued work or pending stop behind.
  void SetUp() override {
    loop_.adoptCurrentThread();
    loop_.stop();
    while (loop_.drain() > 0 || loop_.drain() > 0) {
    }
  }
  void TearDown() override { SetUp(); }

  MainRunLoop& loop_ = MainRunLoop::shared();
  DispatchQueue& mainQueue_ = DispatchQueue::main();
};

TEST_F(MainRunLoopTest, StopIsKeptUntilRunAndLeavesLaterWorkQueued) {
  loop_.stop();
  loop_.run();  // returns at once
  bool laterRan = false;
  mainQueue_.async([] { throw std::runtime_error("handler failed"); });
  mainQueue_.async([&] { loop_.stop(); });
  mainQueue_.async([&] { laterRan = true; });
  loop_.run();
  EXPECT_FALSE(laterRan);
  EXPECT_EQ(loop_.drain(), 1u);
  EXPECT_TRUE(laterRan);
}

TEST_F(MainRunLoopTest, SyncRunsOnTheMainThreadFromAnotherThreadAndInlineOnIt) {
  std::atomic<bool> done{false};
  bool onMain = false;
  std::thread caller([&] {
    mainQueue_.sync([&] { onMain = loop_.isMainThread(); });
    done = true;
  });
  while (!done) loop_.drainFor(10ms);
  caller.join();
  EXPECT_TRUE(onMain);
  bool ran = false;
  mainQueue_.sync([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_EQ(loop_.drain(), 0u);
}

// The main thread is fixed once: a pump elsewhere must not quietly take the
// role (main-thread state would then be touched from two threads); only a test
// harness's scoped binding moves it, and gives it back.
TEST_F(MainRunLoopTest, AnotherThreadPumpsOnlyUnderAScopedTestBinding) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(std::thread([] { MainRunLoop::shared().drain(); }).join(), "off the main thread");
  std::thread([] {
    MainRunLoop::ScopedTestMainThread thisIsMain;
    MainRunLoop::shared().drain();
    EXPECT_TRUE(MainRunLoop::shared().isMainThread());
  }).join();
  EXPECT_TRUE(loop_.isMainThread());
}

}  // namespace
