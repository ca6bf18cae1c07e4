#include "platform/dispatch/DispatchQueueFactory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/dispatch/SerialDispatchQueue.h"
#include "tests/support/ManualDispatchQueue.h"

namespace {

// Tests drive the queues that production code makes for itself; the override
// must reach makeSerial, undo cleanly and survive concurrent use.
class DispatchQueueFactoryTest : public ::testing::Test {};

TEST_F(DispatchQueueFactoryTest, ByDefaultMakesThreadedQueuesWithTheLabel) {
  auto queue = DispatchQueue::makeSerial("input-audio-x");
  EXPECT_NE(dynamic_cast<SerialDispatchQueue*>(queue.get()), nullptr);
  EXPECT_EQ(queue->label(), "input-audio-x");
}

TEST_F(DispatchQueueFactoryTest, ScopedOverridesNestAndRestoreInReverseOrder) {
  std::vector<std::string> outer;
  std::vector<std::string> inner;
  {
    ScopedDispatchQueueFactory outerScope([&](std::string label) {
      outer.push_back(label);
      return std::make_shared<ManualDispatchQueue>(label);
    });
    DispatchQueue::makeSerial("a");
    {
      ScopedDispatchQueueFactory innerScope([&](std::string label) {
        inner.push_back(label);
        return std::make_shared<ManualDispatchQueue>(label);
      });
      DispatchQueue::makeSerial("b");
    }
    DispatchQueue::makeSerial("c");
  }
  auto after = DispatchQueue::makeSerial("d");
  EXPECT_EQ(outer, (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(inner, (std::vector<std::string>{"b"}));
  EXPECT_NE(dynamic_cast<SerialDispatchQueue*>(after.get()), nullptr);
}

TEST_F(DispatchQueueFactoryTest, AMakerThatReturnsNothingFallsBackToAThreadedQueue) {
  ScopedDispatchQueueFactory scope([](std::string) { return nullptr; });
  auto queue = DispatchQueue::makeSerial("fallback");
  ASSERT_NE(queue, nullptr);
  bool ran = false;
  queue->sync([&] { ran = true; });
  EXPECT_TRUE(ran);
}

TEST_F(DispatchQueueFactoryTest, ManualQueuesAreFoundByLabelAndRunOnlyWhenDrained) {
  ManualDispatchQueues queues;
  auto made = DispatchQueue::makeSerial("stream-video-7");
  int ran = 0;
  made->async([&] { ++ran; });
  made->async([&] { ++ran; });
  EXPECT_EQ(ran, 0);
  auto found = queues.find("stream-video-7");
  ASSERT_EQ(found, made);
  EXPECT_EQ(queues.drainAll(), 2u);
  EXPECT_EQ(ran, 2);
  made.reset();
  found.reset();
  EXPECT_EQ(queues.find("stream-video-7"), nullptr);
  EXPECT_EQ(queues.madeCount(), 1u);
}

TEST_F(DispatchQueueFactoryTest, MakingAndReplacingConcurrentlyIsSafe) {
  std::atomic<bool> stop{false};
  std::atomic<int> made{0};
  std::vector<std::thread> makers;
  for (int t = 0; t < 2; ++t) {
    makers.emplace_back([&] {
      while (!stop) {
        DispatchQueue::makeSerial("stress")->async([] {});
        ++made;
      }
    });
  }
  // Keep replacing the maker until the makers have made plenty of queues.
  while (made.load() < 200) {
    ScopedDispatchQueueFactory scope(
        [](std::string label) { return std::make_shared<ManualDispatchQueue>(label); });
  }
  stop = true;
  for (auto& thread : makers) thread.join();
}

}  // namespace
