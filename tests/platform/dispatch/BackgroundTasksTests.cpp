#include "platform/dispatch/BackgroundTasks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <latch>
#include <stdexcept>

#include "platform/dispatch/MainRunLoop.h"

namespace {

using namespace std::chrono_literals;

// Display listens and permission checks wait inside background tasks: the pool
// must never use the main thread and must never starve behind blocked tasks.
class BackgroundTasksTest : public ::testing::Test {
 protected:
  void SetUp() override { MainRunLoop::shared().adoptCurrentThread(); }
  void TearDown() override { BackgroundTasks::waitIdle(); }
};

TEST_F(BackgroundTasksTest, TasksBlockedOnALaterTaskDoNotStarveItNorRunOnMain) {
  constexpr int blocked = 12;
  std::latch release(1);
  std::atomic<int> finished{0};
  std::atomic<int> onMain{0};
  for (int i = 0; i < blocked; ++i) {
    BackgroundTasks::detach([&] {
      if (MainRunLoop::shared().isMainThread()) ++onMain;
      release.wait();
      ++finished;
    });
  }
  BackgroundTasks::detach([] { throw std::runtime_error("task failed"); });
  std::promise<void> releaserRan;
  BackgroundTasks::detach([&] {
    release.count_down();
    releaserRan.set_value();
  });
  // Bounded so that a starved pool fails the test instead of hanging it.
  ASSERT_EQ(releaserRan.get_future().wait_for(30s), std::future_status::ready);
  BackgroundTasks::waitIdle();
  EXPECT_EQ(finished.load(), blocked);
  EXPECT_EQ(onMain.load(), 0);
}

}  // namespace
