#include "platform/dispatch/SerialDispatchQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <latch>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Work items carry replies and buffers: a task must hold move-only captures,
// inline or on the heap, and release them exactly once however it ends; empty
// callables make empty tasks.
TEST(TaskTest, HoldsMoveOnlyCapturesAndReleasesThemOnce) {
  auto token = std::make_shared<int>(1);  // its use count shows the live captures
  int ran = 0;
  {
    Task small([&ran, value = std::make_unique<int>(7), token] { ran += *value; });
    char padding[4 * Task::inlineSize] = {};
    Task large([&ran, padding, token] { ran += *token + padding[0]; });
    Task moved = std::move(small);
    EXPECT_FALSE(small);  // NOLINT(bugprone-use-after-move): moved-from must be empty
    small = std::move(large);
    EXPECT_FALSE(large);  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(token.use_count(), 3);
    moved();
    small();
    EXPECT_EQ(ran, 8);
    small = nullptr;
    EXPECT_EQ(token.use_count(), 2);
  }
  EXPECT_EQ(token.use_count(), 1);
  EXPECT_FALSE(Task(std::function<void()>()));
  EXPECT_THROW(Task()(), std::bad_function_call);
}

// Capture callbacks rely on a queue running their work on its own thread in
// the order each sender submitted it, also when the backlog wraps around the
// ring that holds it and grows while wrapped; sync must hand back errors, must
// not deadlock when the queue's own work calls it, and a throwing item must
// not end the queue.
TEST(SerialDispatchQueueTest, RunsEachSendersWorkInOrderAndSyncNestsAndRethrows) {
  SerialDispatchQueue queue("order");
  std::vector<int> seen[2];  // touched only on the queue
  std::latch held(1);
  // The worker is woken only when it sleeps, and each of these syncs finds it
  // asleep: a lost wake-up hangs here. Then the backlog no longer starts at
  // the ring's first slot.
  for (int i = 0; i < 20001; ++i) queue.sync([] {});
  queue.async([&] { held.wait(); });
  auto send = [&](int t) {
    for (int i = 0; i < 500; ++i) queue.async([&, t, i] { seen[t].push_back(i); });
  };
  std::thread first(send, 0), second(send, 1);
  first.join();
  second.join();
  held.count_down();
  queue.async([] { throw std::runtime_error("lost"); });
  bool nestedRan = false;
  queue.sync([&] {
    queue.sync([&] { nestedRan = queue.isCurrent(); });  // inline, else it would wait on itself
    EXPECT_TRUE(nestedRan);
    for (const auto& items : seen) {
      EXPECT_EQ(items.size(), 500u);
      EXPECT_TRUE(std::is_sorted(items.begin(), items.end()));
    }
  });
  EXPECT_THROW(queue.sync([] { throw std::runtime_error("boom"); }), std::runtime_error);
}

// Dropping a queue must neither lose work already queued nor deadlock, even
// when the last reference goes away inside the queue's own work.
TEST(SerialDispatchQueueTest, DroppingTheLastReferenceRunsWorkAlreadyQueued) {
  auto queue = std::make_unique<SerialDispatchQueue>("drain");
  std::atomic<int> ran{0};
  queue->async([] { std::this_thread::sleep_for(20ms); });
  for (int i = 0; i < 100; ++i) queue->async([&] { ++ran; });
  queue.reset();
  EXPECT_EQ(ran.load(), 100);

  auto selfDropping = std::make_shared<SerialDispatchQueue>("self-drop");
  std::latch held(1);
  std::promise<void> laterWorkRan;
  selfDropping->async([&] { held.wait(); });
  selfDropping->async([last = selfDropping] {});  // released on the queue's own thread
  selfDropping->async([&] { laterWorkRan.set_value(); });
  selfDropping.reset();
  held.count_down();
  EXPECT_EQ(laterWorkRan.get_future().wait_for(10s), std::future_status::ready);
}

}  // namespace
