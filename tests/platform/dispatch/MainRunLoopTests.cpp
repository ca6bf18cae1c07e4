#include "platform/dispatch/MainRunLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"

namespace {

using namespace std::chrono_literals;

// Every host handler runs on the main loop: work posted from any thread must
// run there, in order, and the loop must stop when asked from any thread.
class MainRunLoopTest : public ::testing::Test {
 protected:
  void SetUp() override { resetLoop(); }
  void TearDown() override { resetLoop(); }

  // The loop is process-wide: leave no queued work or pending stop behind.
  static void resetLoop() {
    MainRunLoop::shared().makeCurrentThreadMain();
    while (MainRunLoop::shared().drain() > 0) {
    }
    MainRunLoop::shared().stop();
    MainRunLoop::shared().drain();  // consumes the stop
    while (MainRunLoop::shared().drain() > 0) {
    }
  }

  MainRunLoop& loop_ = MainRunLoop::shared();
  DispatchQueue& mainQueue_ = DispatchQueue::main();
};

TEST_F(MainRunLoopTest, RunExecutesWorkFromOtherThreadsInOrderOnTheLoopThread) {
  std::vector<int> order;  // touched only on the main thread
  std::atomic<bool> allOnMain{true};
  std::promise<void> started;
  std::thread loopThread([&] {
    mainQueue_.async([&] { started.set_value(); });
    loop_.run();
  });
  started.get_future().wait();
  EXPECT_FALSE(loop_.isMainThread());
  for (int i = 0; i < 50; ++i) {
    mainQueue_.async([&, i] {
      if (!loop_.isMainThread() || !mainQueue_.isCurrent()) allOnMain = false;
      order.push_back(i);
    });
  }
  mainQueue_.async([&] { loop_.stop(); });
  loopThread.join();
  EXPECT_TRUE(allOnMain);
  ASSERT_EQ(order.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i);
}

TEST_F(MainRunLoopTest, StopFromAnotherThreadEndsAnIdleRun) {
  std::promise<void> running;
  std::thread loopThread([&] {
    mainQueue_.async([&] { running.set_value(); });
    loop_.run();
  });
  running.get_future().wait();
  loop_.stop();
  loopThread.join();
  SUCCEED();
}

TEST_F(MainRunLoopTest, StopBeforeRunIsKeptSoRunReturnsAtOnce) {
  loop_.stop();
  loop_.run();
  SUCCEED();
}

TEST_F(MainRunLoopTest, StopLeavesLaterWorkQueued) {
  bool laterRan = false;
  mainQueue_.async([&] { loop_.stop(); });
  mainQueue_.async([&] { laterRan = true; });
  loop_.run();
  EXPECT_FALSE(laterRan);
  EXPECT_EQ(loop_.drain(), 1u);
  EXPECT_TRUE(laterRan);
}

TEST_F(MainRunLoopTest, DrainRunsWorkQueuedMeanwhileAndCountsIt) {
  int ran = 0;
  mainQueue_.async([&] {
    ++ran;
    mainQueue_.async([&] { ++ran; });
  });
  EXPECT_EQ(loop_.drain(), 2u);
  EXPECT_EQ(ran, 2);
  EXPECT_EQ(loop_.drain(), 0u);
}

TEST_F(MainRunLoopTest, DrainForPicksUpWorkPostedLaterFromAnotherThread) {
  std::atomic<bool> ran{false};
  std::thread poster([&] { mainQueue_.async([&] { ran = true; }); });
  std::size_t count = 0;
  while (count == 0) count = loop_.drainFor(10s);
  poster.join();
  EXPECT_TRUE(ran);
}

TEST_F(MainRunLoopTest, DrainForWithNothingToDoReturnsZero) {
  EXPECT_EQ(loop_.drainFor(1ms), 0u);
}

TEST_F(MainRunLoopTest, SyncFromAnotherThreadRunsOnTheMainThreadAndWaits) {
  std::atomic<bool> done{false};
  bool onMain = false;
  std::thread caller([&] {
    mainQueue_.sync([&] { onMain = loop_.isMainThread(); });
    done = true;
  });
  while (!done) loop_.drainFor(10ms);
  caller.join();
  EXPECT_TRUE(onMain);
}

TEST_F(MainRunLoopTest, SyncOnTheMainThreadRunsInline) {
  bool ran = false;
  mainQueue_.sync([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_EQ(loop_.drain(), 0u);
}

TEST_F(MainRunLoopTest, WorkThatThrowsDoesNotEndTheLoop) {
  bool laterRan = false;
  mainQueue_.async([] { throw std::runtime_error("handler failed"); });
  mainQueue_.async([&] { laterRan = true; });
  EXPECT_EQ(loop_.drain(), 2u);
  EXPECT_TRUE(laterRan);
}

}  // namespace
