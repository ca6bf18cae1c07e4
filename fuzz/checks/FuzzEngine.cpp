#include "fuzz/checks/FuzzEngine.h"

#include <chrono>
#include <future>

#include "platform/dispatch/BackgroundTasks.h"
#include "platform/dispatch/MainRunLoop.h"

namespace harkwell::fuzz {

constexpr std::chrono::seconds hangTimeout{10};

FlutterEngine& fuzzEngine() {
  static FlutterEngine* const engine = new FlutterEngine();
  return *engine;
}

FuzzVerdict pumpUntil(const std::function<bool()>& done, const char* what) {
  const auto deadline = std::chrono::steady_clock::now() + hangTimeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return std::string("hang: no ") + what;
    MainRunLoop::shared().drainFor(std::chrono::milliseconds(2));
  }
  return std::nullopt;
}

FuzzVerdict settle() {
  const auto deadline = std::chrono::steady_clock::now() + hangTimeout;
  for (;;) {
    // Order matters: tasks may queue main work, and main work may start tasks
    // or send to the UI, whose replies queue main work again.
    BackgroundTasks::waitIdle();
    auto uiReached = std::make_shared<std::promise<void>>();
    auto uiDrained = uiReached->get_future();
    fuzzEngine().uiSide().post([uiReached] { uiReached->set_value(); });
    if (uiDrained.wait_for(hangTimeout) != std::future_status::ready) {
      return "hang: the UI thread stopped answering";
    }
    if (MainRunLoop::shared().drain() == 0) return std::nullopt;
    if (std::chrono::steady_clock::now() > deadline) return "hang: work kept arriving";
  }
}

}  // namespace harkwell::fuzz
