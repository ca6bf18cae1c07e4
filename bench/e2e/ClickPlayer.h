#pragma once

#include <pulse/pulseaudio.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "bench/e2e/PulseClient.h"

namespace harkwell::e2e {

// A low-latency libpulse playback stream into one sink that plays silence
// and, when asked, a click: a short square pulse at the start of the next
// chunk the server asks for. Each click is stamped when its chunk is handed to
// libpulse, together with how long the server says that chunk will wait
// before it is heard.
// Thread affinity: every public method from any thread. The stream's
// callbacks run on the player's own libpulse mainloop thread; what they share
// with callers is guarded by `mutex_`.
class ClickPlayer {
 public:
  using Clock = std::chrono::steady_clock;

  static constexpr unsigned sampleRate = 48000;
  static constexpr unsigned channelCount = 2;
  // 1 ms: long enough that picking every third frame down to 16 kHz keeps
  // 16 samples of it whatever the phase, short enough to stay a click.
  static constexpr std::size_t clickFrames = 48;
  static constexpr float clickLevel = 0.5f;

  struct Settings {
    std::string sink = "test_speakers";
    // The stream's whole playback latency as requested (tlength with
    // ADJUST_LATENCY), and the chunk size the server asks for (minreq).
    std::chrono::microseconds targetLatency{10000};
    std::chrono::microseconds request{2000};
    std::chrono::milliseconds connectDeadline{3000};
  };

  struct WrittenClick {
    Clock::time_point writtenAt;
    // libpulse's playback latency for the click's first frame when it was
    // written (the stream's latency for the chunk's end, less the chunk):
    // when a sound card would play it. A null sink's monitor hands it on
    // when the sink renders it, which can be sooner. Nullopt while libpulse
    // has no timing information yet.
    std::optional<std::chrono::microseconds> playbackLatency;
  };

  // A player already playing silence into `settings.sink` on the server that
  // libpulse picks (PULSE_SERVER), or null with the reason in `whyNot`.
  static std::unique_ptr<ClickPlayer> open(const Settings& settings, std::string& whyNot);

  ~ClickPlayer();
  ClickPlayer(const ClickPlayer&) = delete;
  ClickPlayer& operator=(const ClickPlayer&) = delete;

  // Asks for one more click; its index among all requested clicks. Clicks
  // asked for together go out in consecutive chunks. Any thread.
  std::size_t requestClick();

  // The click of that index once its chunk was written. Any thread.
  std::optional<WrittenClick> written(std::size_t index) const;

  // Whether the stream has failed since it started (the server went away).
  bool failed() const;

  // The click as the stream plays it: interleaved float32 frames at
  // sampleRate, the same pulse on both channels. Any thread.
  static std::vector<float> clickSamples();

 private:
  ClickPlayer() = default;

  bool connect(const Settings& settings, std::string& whyNot);

  // Mainloop thread.
  void onWritable(std::size_t bytes);
  static void writeCallback(pa_stream* stream, std::size_t bytes, void* self);
  static void stateCallback(pa_stream* stream, void* self);

  std::unique_ptr<PulseClient> client_;
  pa_stream* stream_ = nullptr;

  // Mainloop thread only: the chunk being built and how far the click in
  // progress has got (a click may span two chunks).
  std::vector<float> chunk_;
  std::size_t clickCursor_ = 0;
  const std::vector<float> click_ = clickSamples();

  mutable std::mutex mutex_;
  std::size_t requested_ = 0;          // guarded by mutex_
  std::vector<WrittenClick> written_;  // guarded by mutex_
  bool failed_ = false;                // guarded by mutex_
};

}  // namespace harkwell::e2e
