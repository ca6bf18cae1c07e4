#pragma once

#include <cstddef>
#include <functional>
#include <new>
#include <type_traits>
#include <utility>

class Task;

// What a Task can be made from: anything callable without arguments, except a Task.
template <class F>
concept TaskCallable =
    !std::is_same_v<std::decay_t<F>, Task> && std::is_invocable_v<std::decay_t<F>&>;

// A move-only `void()` callable, the unit of work of the dispatch queues. A
// callable of up to `inlineSize` bytes lives inside the Task, so queueing the
// usual closure (a message with its channel and reply, say) allocates nothing;
// larger ones are kept on the heap. Unlike std::function it takes move-only
// callables and never copies. Made from an empty std::function or a null
// function pointer, the Task is empty.
// Thread affinity: a plain value, one thread at a time.
class Task {
 public:
  static constexpr std::size_t inlineSize = 112;

  Task() noexcept = default;
  Task(std::nullptr_t) noexcept {}  // NOLINT(google-explicit-constructor): as std::function

  // Implicit, so that lambdas convert as they do to std::function. TaskCallable
  // leaves Tasks to the move constructor.
  template <TaskCallable F>
  // NOLINTNEXTLINE(google-explicit-constructor,bugprone-forwarding-reference-overload)
  Task(F&& callable) {
    using Callable = std::decay_t<F>;
    if constexpr (std::is_constructible_v<bool, const Callable&>) {
      if (!static_cast<bool>(callable)) return;
    }
    if constexpr (fitsInline<Callable>()) {
      ::new (static_cast<void*>(storage_)) Callable(std::forward<F>(callable));
      ops_ = &inlineOps<Callable>;
    } else {
      ::new (static_cast<void*>(storage_)) Callable*(new Callable(std::forward<F>(callable)));
      ops_ = &heapOps<Callable>;
    }
  }

  Task(Task&& other) noexcept { takeFrom(other); }
  Task& operator=(Task&& other) noexcept {
    if (this != &other) {
      reset();
      takeFrom(other);
    }
    return *this;
  }
  Task(const Task&) = delete;
  Task& operator=(const Task&) = delete;
  ~Task() { reset(); }

  explicit operator bool() const noexcept { return ops_ != nullptr; }

  // Runs the callable; throws std::bad_function_call when empty.
  void operator()() {
    if (ops_ == nullptr) throw std::bad_function_call();
    ops_->invoke(storage_);
  }

 private:
  struct Ops {
    void (*invoke)(void* storage);
    // Move-constructs into `to` and destroys the source.
    void (*relocate)(void* from, void* to) noexcept;
    void (*destroy)(void* storage) noexcept;
  };

  template <class Callable>
  static constexpr bool fitsInline() {
    return sizeof(Callable) <= inlineSize && alignof(Callable) <= alignof(std::max_align_t) &&
           std::is_nothrow_move_constructible_v<Callable>;
  }

  template <class Callable>
  static constexpr Ops inlineOps = {
      [](void* storage) { (*static_cast<Callable*>(storage))(); },
      [](void* from, void* to) noexcept {
        auto* source = static_cast<Callable*>(from);
        ::new (to) Callable(std::move(*source));
        source->~Callable();
      },
      [](void* storage) noexcept { static_cast<Callable*>(storage)->~Callable(); },
  };

  template <class Callable>
  static constexpr Ops heapOps = {
      [](void* storage) { (**static_cast<Callable**>(storage))(); },
      [](void* from, void* to) noexcept { ::new (to) Callable*(*static_cast<Callable**>(from)); },
      [](void* storage) noexcept { delete *static_cast<Callable**>(storage); },
  };

  void takeFrom(Task& other) noexcept {
    if (other.ops_ == nullptr) return;
    other.ops_->relocate(other.storage_, storage_);
    ops_ = std::exchange(other.ops_, nullptr);
  }

  void reset() noexcept {
    if (ops_ == nullptr) return;
    // Cleared first: a callable whose destructor queues more work finds this
    // Task already empty.
    const Ops* ops = std::exchange(ops_, nullptr);
    ops->destroy(storage_);
  }

  alignas(std::max_align_t) unsigned char storage_[inlineSize];
  const Ops* ops_ = nullptr;
};
