#include "platform/dispatch/MainRunLoop.h"

#include <gtest/gtest.h>

#include <atomic>
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

}  // namespace
