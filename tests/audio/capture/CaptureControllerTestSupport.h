#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "audio/capture/HostLog.h"
#include "bridge/BridgeFlutterApi.h"
#include "platform/coremedia/CMSampleBuffer.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/ThreadSafety.h"

namespace harkwell::test {

// One event as the recording sender saw it.
struct SentEvent {
  NativeAudioEvent event;
  bool onExpectedQueue = false;
};

// An event sender that records every event, and whether it was sent from the
// queue the test expects (set with expectEventsOn). Completions are dropped.
// Thread affinity: any thread.
class RecordingFlutterApi final : public BridgeFlutterApiProtocol {
 public:
  void onEvent(NativeAudioEvent event, EventCompletion) override EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    const bool onQueue = expectedQueue_ && expectedQueue_->isCurrent();
    sent_.push_back({std::move(event), onQueue});
  }

  void expectEventsOn(std::shared_ptr<DispatchQueue> queue) EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    expectedQueue_ = std::move(queue);
  }

  std::vector<SentEvent> sent() const EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    return sent_;
  }

  std::size_t count() const EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    return sent_.size();
  }

 private:
  mutable Mutex mutex_;
  std::shared_ptr<DispatchQueue> expectedQueue_ GUARDED_BY(mutex_);
  std::vector<SentEvent> sent_ GUARDED_BY(mutex_);
};

// Collects the host's log lines instead of standard output while it lives.
// Thread affinity: create and destroy on one thread; lines() from any thread.
class RecordedHostLog {
 public:
  RecordedHostLog()
      : lines_(std::make_shared<Lines>()), scope_([lines = lines_](std::string_view line) {
          MutexLock lock(lines->mutex);
          lines->values.emplace_back(line);
        }) {}

  std::vector<std::string> lines() const {
    MutexLock lock(lines_->mutex);
    return lines_->values;
  }

 private:
  struct Lines {
    Mutex mutex;
    std::vector<std::string> values GUARDED_BY(mutex);
  };
  std::shared_ptr<Lines> lines_;
  ScopedHostLogSink scope_;
};

// Exactly representable float32 samples, distinct from one another: what goes in
// must come out bit for bit when no conversion is due.
inline std::vector<float> rampSamples(std::size_t count) {
  std::vector<float> samples(count);
  for (std::size_t i = 0; i < count; ++i) samples[i] = static_cast<float>(i) * 0.0078125f - 0.5f;
  return samples;
}

// `samples` widened, as the event carries them.
inline std::vector<std::optional<double>> widened(const std::vector<float>& samples) {
  return std::vector<std::optional<double>>(samples.begin(), samples.end());
}

}  // namespace harkwell::test
