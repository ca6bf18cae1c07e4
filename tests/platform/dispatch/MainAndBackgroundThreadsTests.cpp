#include "platform/dispatch/MainRunLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <latch>
#include <stdexcept>
#include <thread>

#include "platform/dispatch/BackgroundTasks.h"
#include "platform/dispatch/DispatchQueue.h"

namespace {

using namespace std::chrono_literals;

// Every host handler runs on the main loop: a stop asked before the loop runs
// must not be lost, a failing handler must not end the loop, and sync from
// another thread must run on the main thread (and inline on it, not deadlock).
// Cross-thread ordering on the loop is proven by the engine's ordering test.
TEST(MainRunLoopTest, KeepsAStopUntilRunAndRunsSyncOnTheMainThread) {
  MainRunLoop& loop = MainRunLoop::shared();
  DispatchQueue& mainQueue = DispatchQueue::main();
  loop.adoptCurrentThread();
  loop.stop();
  loop.run();  // returns at once
  bool laterRan = false;
  mainQueue.async([] { throw std::runtime_error("handler failed"); });
  mainQueue.async([&] { loop.stop(); });
  mainQueue.async([&] { laterRan = true; });
  loop.run();
  EXPECT_FALSE(laterRan);
  EXPECT_EQ(loop.drain(), 1u);
  EXPECT_TRUE(laterRan);

  std::atomic<bool> done{false};
  bool onMain = false;
  std::thread caller([&] {
    mainQueue.sync([&] { onMain = loop.isMainThread(); });
    done = true;
  });
  while (!done) loop.drainFor(10ms);
  caller.join();
  EXPECT_TRUE(onMain);
  mainQueue.sync([&] { onMain = false; });  // inline on the main thread
  EXPECT_FALSE(onMain);
}

// The main thread is fixed once: a pump elsewhere must not quietly take the
// role (main-thread state would then be touched from two threads); only a test
// harness's scoped binding moves it, and gives it back.
TEST(MainRunLoopTest, AnotherThreadPumpsOnlyUnderAScopedTestBinding) {
  MainRunLoop::shared().adoptCurrentThread();
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(std::thread([] { MainRunLoop::shared().drain(); }).join(), "off the main thread");
  std::thread([] {
    MainRunLoop::ScopedTestMainThread thisIsMain;
    MainRunLoop::shared().drain();
    EXPECT_TRUE(MainRunLoop::shared().isMainThread());
  }).join();
  EXPECT_TRUE(MainRunLoop::shared().isMainThread());
}

// Display listens and permission checks wait inside background tasks: the pool
// must never use the main thread and must never starve behind blocked tasks.
TEST(BackgroundTasksTest, TasksBlockedOnALaterTaskDoNotStarveItNorRunOnMain) {
  MainRunLoop::shared().adoptCurrentThread();
  std::latch release(1);
  std::atomic<int> finished{0}, onMain{0};
  for (int i = 0; i < 12; ++i) {
    BackgroundTasks::detach([&] {
      onMain += MainRunLoop::shared().isMainThread() ? 1 : 0;
      release.wait();
      ++finished;
    });
  }
  std::promise<void> releaserRan;
  BackgroundTasks::detach([&] {
    release.count_down();
    releaserRan.set_value();
  });
  // Bounded so that a starved pool fails the test instead of hanging it.
  ASSERT_EQ(releaserRan.get_future().wait_for(30s), std::future_status::ready);
  BackgroundTasks::waitIdle();
  EXPECT_EQ(finished.load(), 12);
  EXPECT_EQ(onMain.load(), 0);
}

}  // namespace
