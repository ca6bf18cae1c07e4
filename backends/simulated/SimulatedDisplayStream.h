#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "backends/simulated/SimulatedSink.h"
#include "platform/capture/DisplayStream.h"
#include "platform/dispatch/Mutex.h"

namespace harkwell {

class SimulatedCaptureBackend;

// The state of one simulated display stream, shared by its stream object and
// the backend (which delivers to it).
// Thread affinity: any thread; guarded by its own mutex, taken after the
// backend's and never while calling out.
class SimulatedStreamState {
 public:
  SimulatedStreamState(std::uint32_t displayID, DisplayStreamSettings settings,
                       StreamStoppedHandler stopped);

  std::uint32_t displayID() const { return displayID_; }
  const DisplayStreamSettings& settings() const { return settings_; }

  void addOutput(DisplayOutputKind kind, std::shared_ptr<DispatchQueue> queue,
                 SampleBufferHandler handler) EXCLUDES(mutex_);

  // Starts capturing with a fresh gate and returns it; null when already capturing.
  std::shared_ptr<CallbackGate> beginRun() EXCLUDES(mutex_);
  // Ends capturing; returns the run's gate for the caller to close outside every lock.
  std::shared_ptr<CallbackGate> endRun() EXCLUDES(mutex_);
  bool isCapturing() const EXCLUDES(mutex_);

  // The outputs of `kind` behind `gate` (the current run's when null); empty
  // when not capturing.
  std::vector<SimulatedSink> sinks(DisplayOutputKind kind,
                                   std::shared_ptr<CallbackGate> gate = nullptr) const
      EXCLUDES(mutex_);

  // Tells the consumer the capture ended by itself; nothing once closed.
  // Calling thread.
  void notifyStopped(const NSError& error);
  // After this returns, the stopped handler is not running and never runs.
  void close();

 private:
  struct Output {
    DisplayOutputKind kind;
    std::shared_ptr<DispatchQueue> queue;
    SampleBufferHandler handler;
  };

  const std::uint32_t displayID_;
  const DisplayStreamSettings settings_;
  const StreamStoppedHandler stopped_;
  const std::shared_ptr<CallbackGate> lifeGate_;
  mutable Mutex mutex_;
  std::vector<Output> outputs_ GUARDED_BY(mutex_);
  std::shared_ptr<CallbackGate> runGate_ GUARDED_BY(mutex_);
};

// DisplayStream over a simulated display.
// Thread affinity: any thread.
class SimulatedDisplayStream final : public DisplayStream {
 public:
  SimulatedDisplayStream(std::shared_ptr<SimulatedCaptureBackend> backend,
                         std::shared_ptr<SimulatedStreamState> state);
  ~SimulatedDisplayStream() override;

  SimulatedDisplayStream(const SimulatedDisplayStream&) = delete;
  SimulatedDisplayStream& operator=(const SimulatedDisplayStream&) = delete;

  void addOutput(DisplayOutputKind kind, std::shared_ptr<DispatchQueue> queue,
                 SampleBufferHandler handler) override;
  void startCapture(CaptureCompletion completion) override;
  void stopCapture(CaptureCompletion completion) override;

 private:
  std::shared_ptr<SimulatedCaptureBackend> backend_;
  std::shared_ptr<SimulatedStreamState> state_;
};

}  // namespace harkwell
