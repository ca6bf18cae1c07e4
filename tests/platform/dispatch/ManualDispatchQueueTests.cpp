#include "tests/support/ManualDispatchQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

// Deterministic tests depend on the manual queue running work only when told,
// in order, and on sync from another thread never waiting for a drain.
class ManualDispatchQueueTest : public ::testing::Test {
 protected:
  ManualDispatchQueue queue_{"manual-test"};
  std::vector<int> order_;
};

TEST_F(ManualDispatchQueueTest, RunsNothingUntilToldThenOneItemAtATimeInOrder) {
  for (int i = 0; i < 3; ++i) queue_.async([this, i] { order_.push_back(i); });
  EXPECT_TRUE(order_.empty());
  EXPECT_TRUE(queue_.runOne());
  EXPECT_EQ(order_, (std::vector<int>{0}));
  EXPECT_EQ(queue_.drain(), 2u);
  EXPECT_EQ(order_, (std::vector<int>{0, 1, 2}));
  EXPECT_FALSE(queue_.runOne());
}

TEST_F(ManualDispatchQueueTest, IsCurrentOnlyWhileRunningItsWork) {
  bool inside = false;
  queue_.async([&] { inside = queue_.isCurrent(); });
  EXPECT_FALSE(queue_.isCurrent());
  queue_.drain();
  EXPECT_TRUE(inside);
}

TEST_F(ManualDispatchQueueTest, SyncFromAnotherThreadRunsEarlierWorkFirstWithoutADrain) {
  queue_.async([this] { order_.push_back(1); });
  std::thread caller([this] { queue_.sync([this] { order_.push_back(2); }); });
  caller.join();
  EXPECT_EQ(order_, (std::vector<int>{1, 2}));
}

TEST_F(ManualDispatchQueueTest, DestructionRunsWhatIsStillQueued) {
  int ran = 0;
  {
    ManualDispatchQueue queue("short-lived");
    queue.async([&] { ++ran; });
  }
  EXPECT_EQ(ran, 1);
}

}  // namespace
