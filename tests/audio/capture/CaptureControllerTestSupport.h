#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "audio/capture/HostLog.h"
#include "bridge/BridgeFlutterApi.h"
#include "bridge/BridgeFlutterApiCodec.h"
#include "platform/coremedia/AudioStreamBasicDescription.h"
#include "platform/coremedia/CMSampleBuffer.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchQueueFactory.h"
#include "platform/dispatch/Mutex.h"
#include "platform/dispatch/ThreadSafety.h"
#include "platform/flutter/FlutterEngine.h"

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

// A buffer that the converter turns into nothing, by name.
struct UnconvertibleBuffer {
  const char* name;
  std::function<CMSampleBufferRef()> make;
};

inline std::vector<UnconvertibleBuffer> unconvertibleBuffers() {
  return {
      {"Empty",
       [] {
         AudioStreamBasicDescription asbd;
         FillOutASBDForLPCM(asbd, 16000, 1, 32, 32, true, false, true);
         return CMSampleBufferCreateEmpty(asbd);
       }},
      {"WithoutFormatDescription",
       [] {
         return CMSampleBufferCreateWithoutFormatDescription({std::vector<std::uint8_t>(64)}, 1,
                                                             16);
       }},
      {"ZeroRate",
       [] { return CMSampleBufferCreateWithFloat32Channels(0, {std::vector<float>(16, 0.5f)}); }},
      {"Invalidated",
       [] {
         return CMSampleBufferCreateInvalidated(
             CMSampleBufferCreateWithFloat32Channels(16000, {{0.5f}}));
       }},
      {"VideoFrame", [] { return CMSampleBufferCreateVideoFrame(); }},
      {"Null", [] { return CMSampleBufferRef(); }},
  };
}

// An idle engine whose UI thread is a real one, also while a test has manual
// queues installed for the code under test.
inline std::unique_ptr<FlutterEngine> makeEngineOnRealQueues() {
  ScopedDispatchQueueFactory realQueues(nullptr);
  return std::make_unique<FlutterEngine>();
}

// A UI side on a real engine that decodes each event arriving on the event
// channel with the event codec, as the UI's generated code would, and answers
// with success.
// Thread affinity: the handler runs on the UI thread; readers any thread.
class UiEventRecorder {
 public:
  explicit UiEventRecorder(FlutterEngine& engine) : received_(std::make_shared<Received>()) {
    engine.uiSide().setHandler(
        std::string(BridgeFlutterApi::channelPrefix),
        [received = received_](std::vector<std::uint8_t> message, FlutterBinaryReply reply) {
          CodecDecodeResult decoded = BridgeFlutterApiCodec::shared().decode(message);
          const NativeAudioEvent* event = nullptr;
          if (decoded.ok()) {
            const auto* list = decoded.value->getIf<CodecList>();
            if (list && list->size() == 1) {
              if (const auto* custom = (*list)[0].getIf<CodecCustomValue>())
                event = custom->get<NativeAudioEvent>();
            }
          }
          {
            MutexLock lock(received->mutex);
            received->messages.push_back(message);
            if (event) received->events.push_back(*event);
          }
          reply(BridgeFlutterApiCodec::shared().encode(CodecList{}));
        });
  }

  std::vector<std::vector<std::uint8_t>> messages() const {
    MutexLock lock(received_->mutex);
    return received_->messages;
  }
  std::vector<NativeAudioEvent> events() const {
    MutexLock lock(received_->mutex);
    return received_->events;
  }

 private:
  struct Received {
    Mutex mutex;
    std::vector<std::vector<std::uint8_t>> messages GUARDED_BY(mutex);
    std::vector<NativeAudioEvent> events GUARDED_BY(mutex);
  };
  std::shared_ptr<Received> received_;
};

}  // namespace harkwell::test
