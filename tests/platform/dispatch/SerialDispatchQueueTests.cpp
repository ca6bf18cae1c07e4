#include "platform/dispatch/SerialDispatchQueue.h"

#include <gtest/gtest.h>
#include <pthread.h>

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
// the order it was submitted, whoever submits it.
class SerialDispatchQueueOrderTest : public ::testing::Test {};

TEST_F(SerialDispatchQueueOrderTest, RunsWorkInSubmissionOrder) {
  SerialDispatchQueue queue("order");
  std::vector<int> seen;  // touched only on the queue
  for (int i = 0; i < 1000; ++i) queue.async([&seen, i] { seen.push_back(i); });
  std::vector<int> copy;
  queue.sync([&] { copy = seen; });
  ASSERT_EQ(copy.size(), 1000u);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(copy[i], i);
}

TEST_F(SerialDispatchQueueOrderTest, NeverOverlapsAndKeepsEachSendersOrderUnderManySenders) {
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

TEST_F(SerialDispatchQueueOrderTest, NamesItsThreadAfterTheLabelCutToFifteenCharacters) {
  SerialDispatchQueue queue("stream-audio-1234567");
  char name[32] = {};
  queue.sync([&] { pthread_getname_np(pthread_self(), name, sizeof name); });
  EXPECT_STREQ(name, "stream-audio-12");
}

// sync must hand back results and errors, and must not deadlock when the
// queue's own work calls it.
class SerialDispatchQueueSyncTest : public ::testing::Test {};

TEST_F(SerialDispatchQueueSyncTest, RunsAfterWorkQueuedEarlierAndOnTheQueue) {
  SerialDispatchQueue queue("sync");
  int value = 0;
  queue.async([&] { value = 1; });
  bool onQueue = false;
  queue.sync([&] {
    value *= 10;
    onQueue = queue.isCurrent();
  });
  EXPECT_EQ(value, 10);
  EXPECT_TRUE(onQueue);
  EXPECT_FALSE(queue.isCurrent());
}

TEST_F(SerialDispatchQueueSyncTest, FromTheQueueItselfRunsInlineInsteadOfDeadlocking) {
  SerialDispatchQueue queue("nested");
  int order = 0;
  int innerAt = 0;
  queue.sync([&] {
    queue.sync([&] { innerAt = ++order; });
    ++order;
  });
  EXPECT_EQ(innerAt, 1);
  EXPECT_EQ(order, 2);
}

TEST_F(SerialDispatchQueueSyncTest, RethrowsTheWorksExceptionToTheCaller) {
  SerialDispatchQueue queue("throws");
  EXPECT_THROW(queue.sync([] { throw std::runtime_error("boom"); }), std::runtime_error);
}

TEST_F(SerialDispatchQueueSyncTest, KeepsRunningAfterAsyncWorkThrows) {
  SerialDispatchQueue queue("survives");
  queue.async([] { throw std::runtime_error("lost"); });
  bool ran = false;
  queue.sync([&] { ran = true; });
  EXPECT_TRUE(ran);
}

// Dropping a queue must neither lose work already queued nor deadlock, even
// when the last reference goes away inside the queue's own work.
class SerialDispatchQueueDestructionTest : public ::testing::Test {};

TEST_F(SerialDispatchQueueDestructionTest, RunsWorkAlreadyQueuedBeforeReturning) {
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

TEST_F(SerialDispatchQueueDestructionTest, LastReferenceDroppedOnItsOwnThreadFinishesQueuedWork) {
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
