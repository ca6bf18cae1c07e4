#include "fuzz/checks/QuiescentEngine.h"

#include <condition_variable>
#include <memory>

#include "platform/dispatch/BackgroundTasks.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/ThreadSafety.h"

namespace harkwell::fuzz {

namespace {

// Raised once on the UI thread, awaited on the main thread.
struct UiMark {
  Mutex mutex;
  std::condition_variable_any reached;
  bool done GUARDED_BY(mutex) = false;
};

}  // namespace

QuiescentEngine& QuiescentEngine::shared() {
  static QuiescentEngine* const engine = new QuiescentEngine();
  return *engine;
}

FuzzVerdict QuiescentEngine::pumpUntil(const std::function<bool()>& done, const char* what) {
  const auto deadline = std::chrono::steady_clock::now() + hangTimeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return std::string("hang: ") + what + " did not happen within the timeout";
    }
    MainRunLoop::shared().drainFor(std::chrono::milliseconds(2));
  }
  return std::nullopt;
}

FuzzVerdict QuiescentEngine::settle() {
  const auto deadline = std::chrono::steady_clock::now() + hangTimeout;
  for (;;) {
    // Order matters: tasks may queue main work, and main work may start tasks
    // or send to the UI, whose replies queue main work again.
    BackgroundTasks::waitIdle();
    if (!drainUiSide()) return "hang: the UI thread stopped answering";
    if (MainRunLoop::shared().drain() == 0) return std::nullopt;
    if (std::chrono::steady_clock::now() > deadline) {
      return "hang: work kept arriving after the reply";
    }
  }
}

bool QuiescentEngine::drainUiSide() {
  auto mark = std::make_shared<UiMark>();
  engine_.uiSide().post([mark] {
    MutexLock lock(mark->mutex);
    mark->done = true;
    mark->reached.notify_all();
  });
  MutexLock lock(mark->mutex);
  const auto deadline = std::chrono::steady_clock::now() + hangTimeout;
  while (!mark->done) {
    if (mark->reached.wait_until(lock, deadline) == std::cv_status::timeout) return mark->done;
  }
  return true;
}

}  // namespace harkwell::fuzz
