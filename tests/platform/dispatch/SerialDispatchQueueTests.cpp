#include "platform/dispatch/SerialDispatchQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <latch>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Capture callbacks rely on a queue running their work one item at a time, in
// the order each sender submitted it.
TEST(SerialDispatchQueueTest, NeverOverlapsAndKeepsEachSendersOrderUnderManySenders) {
  SerialDispatchQueue queue("overlap");
  constexpr int senders = 4;
  constexpr int perSender = 500;
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  std::vector<std::vector<int>> perThread(senders);  // touched only on the queue
  std::vector<std::thread> threads;
  for (int t = 0; t < senders; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < perSender; ++i) {
        queue.async([&, t, i] {
          if (inside.fetch_add(1) != 0) overlapped = true;
          perThread[t].push_back(i);
          inside.fetch_sub(1);
        });
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::vector<std::vector<int>> copy;
  queue.sync([&] { copy = perThread; });
  EXPECT_FALSE(overlapped);
  for (const auto& items : copy) {
    ASSERT_EQ(items.size(), static_cast<std::size_t>(perSender));
    for (int i = 0; i < perSender; ++i) ASSERT_EQ(items[i], i);
  }
}

// The worker sleeps between items and is woken only when it sleeps: a sender
// that waits for each item before sending the next makes it park every time,
// so a missed wake-up shows as a hang here.
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

// sync must hand back errors, must not deadlock when the queue's own work
// calls it, and a throwing item must not end the queue.
TEST(SerialDispatchQueueTest, SyncNestsInlineRethrowsAndTheQueueSurvivesThrowingWork) {
  SerialDispatchQueue queue("sync");
  int order = 0;
  int innerAt = 0;
  queue.sync([&] {
    queue.sync([&] { innerAt = ++order; });
    ++order;
  });
  EXPECT_EQ(innerAt, 1);
  EXPECT_EQ(order, 2);
  EXPECT_THROW(queue.sync([] { throw std::runtime_error("boom"); }), std::runtime_error);
  queue.async([] { throw std::runtime_error("lost"); });
  bool ran = false;
  queue.sync([&] { ran = true; });
  EXPECT_TRUE(ran);
}

// Dropping a queue must neither lose work already queued nor deadlock, even
// when the last reference goes away inside the queue's own work.
TEST(SerialDispatchQueueTest, DestructionRunsWorkAlreadyQueuedBeforeReturning) {
  auto queue = std::make_unique<SerialDispatchQueue>("drain");
  std::latch gate(1);
  std::atomic<int> ran{0};
  queue->async([&] { gate.wait(); });
  for (int i = 0; i < 100; ++i) queue->async([&] { ++ran; });
  std::thread opener([&] { gate.count_down(); });
  queue.reset();
  opener.join();
  EXPECT_EQ(ran.load(), 100);
}

TEST(SerialDispatchQueueTest, LastReferenceDroppedOnItsOwnThreadFinishesQueuedWork) {
  auto slot = std::make_shared<std::shared_ptr<DispatchQueue>>(
      std::make_shared<SerialDispatchQueue>("self-drop"));
  DispatchQueue& queue = **slot;
  std::latch gate(1);
  std::promise<bool> droppedOnQueue;
  std::promise<void> laterWorkRan;
  queue.async([&] { gate.wait(); });
  queue.async([slot, &droppedOnQueue] {
    slot->reset();
    droppedOnQueue.set_value(slot->get() == nullptr);
  });
  queue.async([&] { laterWorkRan.set_value(); });
  slot.reset();  // the work item now holds the only route to the last reference
  gate.count_down();
  auto dropped = droppedOnQueue.get_future();
  auto later = laterWorkRan.get_future();
  ASSERT_EQ(dropped.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(dropped.get());
  EXPECT_EQ(later.wait_for(10s), std::future_status::ready);
}

}  // namespace
