#include "platform/dispatch/DispatchQueueFactory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/dispatch/SerialDispatchQueue.h"
#include "tests/support/ManualDispatchQueue.h"

namespace {

// Tests drive the queues that production code makes for itself; the override
// must reach makeSerial, undo cleanly and survive concurrent use.
TEST(DispatchQueueFactoryTest, ScopedOverridesNestAndRestoreInReverseOrder) {
  std::vector<std::string> outer;
  std::vector<std::string> inner;
  auto makerRecordingTo = [](std::vector<std::string>& made) {
    return [&made](std::string label) {
      made.push_back(label);
      return std::make_shared<ManualDispatchQueue>(label);
    };
  };
  {
    ScopedDispatchQueueFactory outerScope(makerRecordingTo(outer));
    DispatchQueue::makeSerial("a");
    {
      ScopedDispatchQueueFactory innerScope(makerRecordingTo(inner));
      DispatchQueue::makeSerial("b");
    }
    DispatchQueue::makeSerial("c");
  }
  auto after = DispatchQueue::makeSerial("d");
  EXPECT_EQ(outer, (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(inner, (std::vector<std::string>{"b"}));
  EXPECT_NE(dynamic_cast<SerialDispatchQueue*>(after.get()), nullptr);
  EXPECT_EQ(after->label(), "d");
}

TEST(DispatchQueueFactoryTest, MakingAndReplacingConcurrentlyIsSafe) {
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
