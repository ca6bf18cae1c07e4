#pragma once

#include <memory>
#include <optional>
#include <string>

#include "backends/pulse/PulseConnection.h"
#include "backends/pulse/PulseRecordStream.h"
#include "platform/capture/MicrophoneCapture.h"
#include "platform/dispatch/CallbackGate.h"
#include "platform/dispatch/Mutex.h"

namespace harkwell {

// A PulseAudio source opened as a microphone. Buffers are float32, one buffer
// per channel, at the rate and channel count the output's settings ask for
// (the server converts), or at the source's own (at most two channels) where
// the settings leave them open or cannot be honoured; each describes its
// format. Each buffer holds at least 20 ms. A capture that
// fails while running (device or server gone, no data) stops: isRunning() turns
// false and nothing more is delivered.
// Thread affinity: any thread, calls serialised by the caller; delivery on the
// consumer's queue.
class PulseMicrophoneCapture final : public MicrophoneCapture {
 public:
  // `connection` is shared with the backend that opened it.
  PulseMicrophoneCapture(std::shared_ptr<PulseConnection> connection, std::string sourceName);
  ~PulseMicrophoneCapture() override;

  // Any thread.
  void setOutput(AudioOutputSettings requested, std::shared_ptr<DispatchQueue> queue,
                 SampleBufferHandler handler) override EXCLUDES(mutex_);
  // Any thread.
  void setStoppedHandler(StreamStoppedHandler stopped) override EXCLUDES(mutex_);
  // Blocks until the stream is ready, has failed, or the deadline (3 s) passed.
  // Any thread but the delivery queue.
  std::optional<NSError> startRunning() override EXCLUDES(mutex_);
  // Any thread.
  void stopRunning() override EXCLUDES(mutex_);
  bool isRunning() const override { return stream_.isRunning(); }

 private:
  const std::string sourceName_;
  PulseRecordStream stream_;

  Mutex mutex_;
  std::shared_ptr<DispatchQueue> queue_ GUARDED_BY(mutex_);
  SampleBufferHandler handler_ GUARDED_BY(mutex_);
  StreamStoppedHandler stopped_ GUARDED_BY(mutex_);
  PulseRecordStream::Shape shape_ GUARDED_BY(mutex_);
  // One per run: buffers still queued from an earlier run meet a closed gate.
  std::shared_ptr<CallbackGate> gate_ GUARDED_BY(mutex_);
};

}  // namespace harkwell
