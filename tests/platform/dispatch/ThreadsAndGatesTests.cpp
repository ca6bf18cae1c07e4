#include "platform/dispatch/MainRunLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <latch>
#include <stdexcept>
#include <thread>

#include "platform/dispatch/BackgroundTasks.h"
#include "platform/dispatch/CallbackGate.h"
#include "platform/dispatch/DispatchQueue.h"

// Which thread runs the host's work (the main loop, the background pool), and
// the gate that keeps callbacks out of an object that is going away.
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

  bool onMain = false;
  auto caller = std::async(std::launch::async,
                           [&] { mainQueue.sync([&] { onMain = loop.isMainThread(); }); });
  while (caller.wait_for(0s) != std::future_status::ready) loop.drainFor(10ms);
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
  std::atomic<int> finished{0};
  for (int i = 0; i < 12; ++i) {
    BackgroundTasks::detach([&] {
      if (MainRunLoop::shared().isMainThread()) return;  // then it never counts as finished
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
}

// At stake: a consumer (a capture's controller, an engine) that closes its gate
// may be destroyed right after, so close() must outwait a callback running
// elsewhere, must not deadlock when the callback itself closes (also from a
// nested callback), and nothing may run once closed until it opens again.
TEST(CallbackGateTest, CloseOutwaitsOtherThreadsButNotItsOwnCallback) {
  harkwell::CallbackGate gate;
  std::latch entered(1);
  std::atomic<bool> finished{false};
  std::thread callback([&] {
    gate.run([&] {
      entered.count_down();
      std::this_thread::sleep_for(50ms);
      finished = true;
    });
  });
  entered.wait();
  gate.close();
  EXPECT_TRUE(finished);
  callback.join();
  EXPECT_FALSE(gate.run([] { ADD_FAILURE() << "ran after close"; }));

  gate.open();
  EXPECT_NO_THROW(gate.run([] { throw std::runtime_error("consumer fault"); }));
  EXPECT_TRUE(gate.run([&] { gate.run([&] { gate.close(); }); }));
  EXPECT_FALSE(gate.isOpen());
}

}  // namespace
