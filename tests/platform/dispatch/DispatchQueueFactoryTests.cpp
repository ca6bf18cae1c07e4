#include "platform/dispatch/DispatchQueueFactory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/support/ManualDispatchQueue.h"

namespace {

// Tests drive the queues that production code makes for itself: replacing the
// maker while other threads make queues must be safe.
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
