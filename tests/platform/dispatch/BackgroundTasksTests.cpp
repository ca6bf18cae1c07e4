#include "platform/dispatch/BackgroundTasks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <latch>

#include "platform/dispatch/MainRunLoop.h"

namespace {

// Display listens and permission checks wait inside background tasks: the pool
// must never use the main thread and must never starve behind blocked tasks.
TEST(BackgroundTasksTest, TasksBlockedOnALaterTaskDoNotStarveItNorRunOnMain) {
  MainRunLoop::shared().adoptCurrentThread();
  constexpr int blocked = 12;
  std::latch release(1);
  std::atomic<int> finished{0}, onMain{0};
  for (int i = 0; i < blocked; ++i) {
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
  ASSERT_EQ(releaserRan.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
  BackgroundTasks::waitIdle();
  EXPECT_EQ(finished.load(), blocked);
  EXPECT_EQ(onMain.load(), 0);
}

}  // namespace
