#include "platform/dispatch/Task.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "platform/dispatch/TaskRing.h"

namespace {

// Counts live copies of a capture, so that a leak or a double destruction of
// what a task holds shows.
struct Tracked {
  explicit Tracked(int& live) : live(&live) { ++live; }
  Tracked(Tracked&& other) noexcept : live(other.live) { ++*live; }
  ~Tracked() { --*live; }
  int* live;
};

// Work items carry replies and buffers: a task must hold move-only captures,
// inline or on the heap, and release them exactly once however it ends; empty
// callables make empty tasks.
TEST(TaskTest, HoldsMoveOnlyCapturesAndReleasesThemOnce) {
  int live = 0, ran = 0;
  {
    Task small(
        [&ran, value = std::make_unique<int>(7), tracked = Tracked(live)] { ran += *value; });
    std::array<char, 4 * Task::inlineSize> padding{};
    Task large([&ran, padding, tracked = Tracked(live)] { ran += 1 + padding[0]; });
    Task moved = std::move(small);
    Task movedLarge;
    movedLarge = std::move(large);
    EXPECT_FALSE(small);  // NOLINT(bugprone-use-after-move): moved-from must be empty
    EXPECT_FALSE(large);  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(live, 2);
    moved();
    movedLarge();
    EXPECT_EQ(ran, 8);
    movedLarge = nullptr;
    EXPECT_EQ(live, 1);
  }
  EXPECT_EQ(live, 0);
  EXPECT_FALSE(Task(std::function<void()>()));
  EXPECT_FALSE(Task(static_cast<void (*)()>(nullptr)));
  EXPECT_THROW(Task()(), std::bad_function_call);
}

// A queue's backlog wraps around the ring and grows while wrapped: the order
// of submission must survive both.
TEST(TaskRingTest, KeepsOrderAcrossWrapAndGrowth) {
  TaskRing ring;
  std::vector<int> order;
  int next = 0;
  auto push = [&](int count) {
    for (int i = 0; i < count; ++i) ring.push([&order, n = next++] { order.push_back(n); });
  };
  push(12);
  for (int i = 0; i < 9; ++i) ring.pop()();
  push(40);  // wraps past the end of 16 slots, then grows twice
  EXPECT_EQ(ring.size(), 43U);
  while (!ring.empty()) ring.pop()();
  std::vector<int> expected(52);
  for (int i = 0; i < 52; ++i) expected[i] = i;
  EXPECT_EQ(order, expected);
}

}  // namespace
