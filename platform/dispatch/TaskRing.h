#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "platform/dispatch/Task.h"

// The waiting work of one queue, first in first out, in a ring of Task slots
// that doubles when full and never shrinks: once a queue has seen its deepest
// backlog, queueing and taking work allocate nothing (a std::deque frees and
// allocates a block every few items, and on a queue fed by another thread
// every such block crosses threads in the allocator).
// Thread affinity: one thread at a time (callers hold their queue's lock).
class TaskRing {
 public:
  bool empty() const { return count_ == 0; }
  std::size_t size() const { return count_; }

  void push(Task task) {
    if (count_ == slots_.size()) grow();
    slots_[(head_ + count_) % slots_.size()] = std::move(task);
    ++count_;
  }

  // The oldest task, removed. Not on an empty ring.
  Task pop() {
    Task task = std::move(slots_[head_]);
    head_ = (head_ + 1) % slots_.size();
    --count_;
    return task;
  }

 private:
  static constexpr std::size_t initialSlots = 16;

  void grow() {
    std::vector<Task> larger(slots_.empty() ? initialSlots : slots_.size() * 2);
    for (std::size_t i = 0; i < count_; ++i) {
      larger[i] = std::move(slots_[(head_ + i) % slots_.size()]);
    }
    slots_.swap(larger);
    head_ = 0;
  }

  std::vector<Task> slots_;
  std::size_t head_ = 0;
  std::size_t count_ = 0;
};
