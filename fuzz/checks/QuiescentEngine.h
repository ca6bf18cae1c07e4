#pragma once

#include <chrono>
#include <functional>

#include "fuzz/checks/FuzzVerdict.h"
#include "platform/flutter/FlutterEngine.h"

namespace harkwell::fuzz {

// A UI engine for checks that drive the host from the UI side. The thread that
// calls pumpUntil and settle acts as the main thread. Every wait is bounded, so
// a host that never answers becomes a verdict instead of a stuck run.
// Made once per process and never destroyed (see shared()).
// Thread affinity: pumpUntil and settle on the one thread that acts as the
// main thread; engine() from any thread.
class QuiescentEngine {
 public:
  // How long any one wait may take before it counts as a hang.
  static constexpr std::chrono::seconds hangTimeout{10};

  // The process's engine. Never destroyed: static destruction at exit would
  // race the engine's threads for nothing. Main thread.
  static QuiescentEngine& shared();

  QuiescentEngine(const QuiescentEngine&) = delete;
  QuiescentEngine& operator=(const QuiescentEngine&) = delete;

  FlutterEngine& engine() { return engine_; }

  // Runs main-queue work on the calling thread until `done` holds; a verdict
  // naming `what` when it does not within hangTimeout. Main thread.
  FuzzVerdict pumpUntil(const std::function<bool()>& done, const char* what);

  // Runs everything in flight to its end: background tasks, main-queue work
  // and UI-side work, round after round, until a round starts nothing new. A
  // verdict when that takes longer than hangTimeout. Main thread.
  FuzzVerdict settle();

 private:
  QuiescentEngine() = default;

  // Waits until the UI thread has run everything queued before this call.
  bool drainUiSide();

  FlutterEngine engine_;
};

}  // namespace harkwell::fuzz
