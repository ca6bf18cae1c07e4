#pragma once

#include <pulse/pulseaudio.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bench/e2e/ClickDetector.h"
#include "bench/e2e/PulseClient.h"

namespace harkwell::e2e {

// A bare libpulse record stream on a 48 kHz stereo monitor source, asked for
// exactly as the host's backend asks (streamRequestFor), that searches the
// first channel for clicks as each chunk arrives. The yardstick for what the
// server alone takes, beside the host's whole path.
// Thread affinity: any thread; the read callback runs on the reader's own
// mainloop thread, and what it records is guarded by `mutex_`.
class MonitorReader {
 public:
  static constexpr unsigned sampleRate = 48000;
  static constexpr unsigned channelCount = 2;

  // Reading, or null with the reason in `whyNot`.
  static std::unique_ptr<MonitorReader> open(const std::string& source, std::string& whyNot);
  ~MonitorReader();
  MonitorReader(const MonitorReader&) = delete;
  MonitorReader& operator=(const MonitorReader&) = delete;

  // Positions are frames of the 48 kHz stream. Any thread.
  std::vector<TimedOnset> onsets() const;

 private:
  MonitorReader() = default;

  // Mainloop thread.
  void onReadable();
  static void readCallback(pa_stream* stream, std::size_t bytes, void* self);

  std::unique_ptr<PulseClient> client_;
  pa_stream* stream_ = nullptr;

  mutable std::mutex mutex_;
  // 100 ms of silence at 48 kHz arms it, as the UI's detector at 16 kHz.
  ClickDetector detector_{{0.25, 0.01, 4800}};  // guarded by mutex_
  std::vector<TimedOnset> onsets_;              // guarded by mutex_
};

}  // namespace harkwell::e2e
