#pragma once

#include <memory>
#include <optional>
#include <string>

#include "backends/simulated/SimulatedSink.h"
#include "platform/capture/MicrophoneCapture.h"
#include "platform/dispatch/Mutex.h"

namespace harkwell {

class SimulatedCaptureBackend;

// The state of one opened simulated microphone, shared by its capture object
// and the backend (which delivers to it).
// Thread affinity: any thread; guarded by its own mutex, taken after the
// backend's and never while calling out.
class SimulatedMicrophoneState {
 public:
  explicit SimulatedMicrophoneState(std::string uniqueID) : uniqueID_(std::move(uniqueID)) {}

  const std::string& uniqueID() const { return uniqueID_; }

  void setOutput(AudioOutputSettings requested, std::shared_ptr<DispatchQueue> queue,
                 SampleBufferHandler handler) EXCLUDES(mutex_);
  AudioOutputSettings requested() const EXCLUDES(mutex_);
  void setStopped(StreamStoppedHandler stopped) EXCLUDES(mutex_);
  StreamStoppedHandler stopped() const EXCLUDES(mutex_);

  // Starts a run with a fresh gate and returns its sink; nullopt when already running.
  std::optional<SimulatedSink> beginRun() EXCLUDES(mutex_);
  // Ends the run; returns its gate, for the caller to close outside every lock.
  std::shared_ptr<CallbackGate> endRun() EXCLUDES(mutex_);
  bool isRunning() const EXCLUDES(mutex_);
  // The sink of the current run; nullopt when not running.
  std::optional<SimulatedSink> currentSink() const EXCLUDES(mutex_);

 private:
  const std::string uniqueID_;
  mutable Mutex mutex_;
  AudioOutputSettings requested_ GUARDED_BY(mutex_);
  std::shared_ptr<DispatchQueue> queue_ GUARDED_BY(mutex_);
  SampleBufferHandler handler_ GUARDED_BY(mutex_);
  StreamStoppedHandler stopped_ GUARDED_BY(mutex_);
  std::optional<SimulatedSink> run_ GUARDED_BY(mutex_);
};

// MicrophoneCapture over a simulated microphone.
// Thread affinity: any thread.
class SimulatedMicrophoneCapture final : public MicrophoneCapture {
 public:
  SimulatedMicrophoneCapture(std::shared_ptr<SimulatedCaptureBackend> backend,
                             std::shared_ptr<SimulatedMicrophoneState> state);
  ~SimulatedMicrophoneCapture() override;

  SimulatedMicrophoneCapture(const SimulatedMicrophoneCapture&) = delete;
  SimulatedMicrophoneCapture& operator=(const SimulatedMicrophoneCapture&) = delete;

  void setOutput(AudioOutputSettings requested, std::shared_ptr<DispatchQueue> queue,
                 SampleBufferHandler handler) override;
  void setStoppedHandler(StreamStoppedHandler stopped) override;
  std::optional<NSError> startRunning() override;
  void stopRunning() override;
  bool isRunning() const override;

 private:
  std::shared_ptr<SimulatedCaptureBackend> backend_;
  std::shared_ptr<SimulatedMicrophoneState> state_;
};

}  // namespace harkwell
