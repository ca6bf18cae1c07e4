#include "platform/dispatch/SerialDispatchQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <latch>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/dispatch/DispatchQueueFactory.h"
#include "tests/support/ManualDispatchQueue.h"

namespace {

using namespace std::chrono_literals;

// Capture callbacks rely on a queue running their work one item at a time, in
// the order each sender submitted it; sync must hand back errors, must not
// deadlock when the queue's own work calls it, and a throwing item must not
// end the queue.
TEST(SerialDispatchQueueTest, RunsEachSendersWorkInOrderOneAtATimeAndSyncNestsAndRethrows) {
  SerialDispatchQueue queue("order");
  std::vector<int> seen[2];  // touched only on the queue
  std::atomic<int> inside{0};
  bool overlapped = false;
  auto send = [&](int t) {
    for (int i = 0; i < 500; ++i) {
      queue.async([&, t, i] {
        overlapped = overlapped || inside++ != 0;
        seen[t].push_back(i);
        --inside;
      });
    }
  };
  std::thread first(send, 0), second(send, 1);
  first.join();
  second.join();
  queue.async([] { throw std::runtime_error("lost"); });
  bool nestedRan = false;
  queue.sync([&] {
    queue.sync([&] { nestedRan = true; });  // inline, else it would wait on itself
    EXPECT_TRUE(nestedRan);
    EXPECT_FALSE(overlapped);
    for (const auto& items : seen) {
      EXPECT_EQ(items.size(), 500u);
      EXPECT_TRUE(std::is_sorted(items.begin(), items.end()));
    }
  });
  EXPECT_THROW(queue.sync([] { throw std::runtime_error("boom"); }), std::runtime_error);
}

// The worker is woken only when it sleeps: a sender that waits for each item
// before sending the next makes it park every time, so a missed wake-up hangs.
TEST(SerialDispatchQueueTest, WakesTheWorkerForEveryItemSentAfterItFellAsleep) {
  SerialDispatchQueue queue("pingpong");
  auto finished = std::async(std::launch::async, [&] {
    for (int i = 0; i < 20000; ++i) {
      std::promise<void> ran;
      queue.async([&] { ran.set_value(); });
      ran.get_future().wait();
    }
  });
  EXPECT_EQ(finished.wait_for(60s), std::future_status::ready) << "a wake-up was lost";
}

// Dropping a queue must neither lose work already queued nor deadlock, even
// when the last reference goes away inside the queue's own work.
TEST(SerialDispatchQueueTest, DroppingTheLastReferenceRunsWorkAlreadyQueued) {
  auto queue = std::make_unique<SerialDispatchQueue>("drain");
  std::latch held(1);
  std::atomic<int> ran{0};
  queue->async([&] { held.wait(); });
  for (int i = 0; i < 100; ++i) queue->async([&] { ++ran; });
  std::thread opener([&] { held.count_down(); });
  queue.reset();
  opener.join();
  EXPECT_EQ(ran.load(), 100);

  auto slot = std::make_shared<std::shared_ptr<DispatchQueue>>(
      std::make_shared<SerialDispatchQueue>("self-drop"));
  DispatchQueue& selfDropping = **slot;
  std::latch heldToo(1);
  std::promise<void> laterWorkRan;
  selfDropping.async([&] { heldToo.wait(); });
  selfDropping.async([slot] { slot->reset(); });  // the last reference, on the queue's thread
  selfDropping.async([&] { laterWorkRan.set_value(); });
  heldToo.count_down();
  EXPECT_EQ(laterWorkRan.get_future().wait_for(10s), std::future_status::ready);
}

// Tests drive the queues that production code makes for itself: replacing the
// maker while other threads make queues must be safe.
TEST(DispatchQueueFactoryTest, MakingAndReplacingConcurrentlyIsSafe) {
  std::atomic<int> made{0};
  std::atomic<bool> stop{false};
  auto makeMany = [&] {
    for (; !stop; ++made) DispatchQueue::makeSerial("stress")->async([] {});
  };
  std::thread first(makeMany), second(makeMany);
  while (made.load() < 200) {
    ScopedDispatchQueueFactory scope(
        [](std::string label) { return std::make_shared<ManualDispatchQueue>(std::move(label)); });
  }
  stop = true;
  first.join();
  second.join();
}

}  // namespace
