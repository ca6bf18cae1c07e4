#pragma once

#include <pulse/pulseaudio.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace harkwell::e2e {

// A libpulse context on a threaded mainloop of its own, connected to the
// server libpulse picks (PULSE_SERVER), for the measuring side's own streams.
// Thread affinity: any thread; the context and its streams are used only
// under lock() or inside their callbacks (on the mainloop thread).
class PulseClient {
 public:
  // Connected, or null with the reason in `whyNot`.
  static std::unique_ptr<PulseClient> connect(const std::string& name,
                                              std::chrono::milliseconds deadline,
                                              std::string& whyNot);
  // Disconnects; destroy the client's streams first.
  ~PulseClient();
  PulseClient(const PulseClient&) = delete;
  PulseClient& operator=(const PulseClient&) = delete;

  pa_context* context() const { return context_; }
  std::string lastError() const { return pa_strerror(pa_context_errno(context_)); }

  // Holds the mainloop lock for one scope.
  class Lock {
   public:
    explicit Lock(PulseClient& client) : mainloop_(client.mainloop_) {
      pa_threaded_mainloop_lock(mainloop_);
    }
    ~Lock() { pa_threaded_mainloop_unlock(mainloop_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    pa_threaded_mainloop* mainloop_;
  };

  // Polls `ready` until it holds (true), `broken` holds or `deadline` passes
  // (false). Call it with the lock held: it lets go of the lock between polls,
  // since the mainloop thread needs it to make progress, and
  // pa_threaded_mainloop_wait has no timeout.
  template <class Ready, class Broken>
  bool waitLocked(Ready ready, Broken broken, std::chrono::milliseconds deadline) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (!ready()) {
      if (broken() || std::chrono::steady_clock::now() >= until) return false;
      pa_threaded_mainloop_unlock(mainloop_);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      pa_threaded_mainloop_lock(mainloop_);
    }
    return true;
  }

  // Waits under the lock until `stream` is ready; false when it fails or the
  // deadline passes.
  bool waitReadyLocked(pa_stream* stream, std::chrono::milliseconds deadline) {
    return waitLocked([&] { return pa_stream_get_state(stream) == PA_STREAM_READY; },
                      [&] { return !PA_STREAM_IS_GOOD(pa_stream_get_state(stream)); }, deadline);
  }

 private:
  PulseClient() = default;

  pa_threaded_mainloop* mainloop_ = nullptr;
  pa_context* context_ = nullptr;
};

}  // namespace harkwell::e2e
