#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "backends/simulated/SimulatedSignal.h"
#include "platform/capture/CaptureBackend.h"
#include "platform/dispatch/Mutex.h"

namespace harkwell {

class SimulatedMicrophoneState;
class SimulatedStreamState;

// In-process microphones and displays whose test tones a timer thread
// delivers in real time (absolute deadlines, so no drift) through
// DispatchQueue::async. makePaced() gives two microphones and one display,
// both permissions granted. A device added without a signal is never paced.
//
// Lifetime: capture objects keep the backend alive. No buffer reaches a
// consumer after its capture stopped or was destroyed.
// Thread affinity: any thread. Callbacks never run under the backend's lock.
class SimulatedCaptureBackend : public CaptureBackend,
                                public std::enable_shared_from_this<SimulatedCaptureBackend> {
 public:
  // Fixed devices of makePaced().
  static constexpr const char* kMicrophoneID = "simulated-microphone-1";
  static constexpr const char* kMicrophoneName = "Simulated Microphone";
  static constexpr const char* kHeadsetID = "simulated-microphone-2";
  static constexpr const char* kHeadsetName = "Simulated Headset Microphone";
  static constexpr std::uint32_t kDisplayID = 1;

  static std::shared_ptr<SimulatedCaptureBackend> makePaced();
  ~SimulatedCaptureBackend() override;

  SimulatedCaptureBackend(const SimulatedCaptureBackend&) = delete;
  SimulatedCaptureBackend& operator=(const SimulatedCaptureBackend&) = delete;

  // --- CaptureBackend ---------------------------------------------------------
  OperatingSystemVersion operatingSystemVersion() override;
  std::vector<MicrophoneInfo> microphones(const std::string& deviceType) override EXCLUDES(mutex_);
  CaptureAuthorizationStatus microphoneAuthorizationStatus() override;
  void requestMicrophoneAccess(std::function<void(bool)> completion) override;
  std::unique_ptr<MicrophoneCapture> openMicrophone(const std::string& uniqueID) override
      EXCLUDES(mutex_);
  void getShareableContent(std::function<void(ShareableContentAnswer)> completion) override
      EXCLUDES(mutex_);
  std::unique_ptr<DisplayStream> openDisplayStream(std::uint32_t displayID,
                                                   DisplayStreamSettings settings,
                                                   StreamStoppedHandler stopped) override;

  // --- Devices ----------------------------------------------------------------
  // Adds a microphone at the end of the list. With a signal, it plays while a
  // capture runs; `followsRequest` makes the tone take the rate and channel
  // count that the consumer asked for. Any thread.
  void addMicrophone(MicrophoneInfo info, std::optional<SimulatedSignal> signal = std::nullopt,
                     bool followsRequest = false) EXCLUDES(mutex_);
  // Adds a display at the end of the list. With a signal, it plays as the
  // display's system audio, next to screen frames. Any thread.
  void addDisplay(std::uint32_t displayID, std::optional<SimulatedSignal> signal = std::nullopt)
      EXCLUDES(mutex_);

  // Called by the capture objects. Any thread.
  std::optional<NSError> startMicrophone(const std::shared_ptr<SimulatedMicrophoneState>& state)
      EXCLUDES(mutex_);
  void stopMicrophone(const std::shared_ptr<SimulatedMicrophoneState>& state) EXCLUDES(mutex_);
  void closeMicrophone(const SimulatedMicrophoneState* state);
  void addStreamOutput(const std::shared_ptr<SimulatedStreamState>& state, DisplayOutputKind kind,
                       std::shared_ptr<DispatchQueue> queue, SampleBufferHandler handler);
  void startStream(const std::shared_ptr<SimulatedStreamState>& state, CaptureCompletion completion)
      EXCLUDES(mutex_);
  void stopStream(const std::shared_ptr<SimulatedStreamState>& state, CaptureCompletion completion)
      EXCLUDES(mutex_);
  void closeStream(const std::shared_ptr<SimulatedStreamState>& state) EXCLUDES(mutex_);

 protected:
  // The seam for test controls (tests/support/SimulatedTestBackend.h). The
  // hooks run on the calling thread, never under our lock; the defaults are
  // this backend's own behaviour.
  SimulatedCaptureBackend();
  void addPacedDevices() EXCLUDES(mutex_);
  enum class Step { microphoneOpen, addOutput, streamStart, streamStop };
  // An error that `step` fails with instead of taking place.
  virtual std::optional<NSError> injectedFailure(Step) { return std::nullopt; }
  // Hands the result of a stream start or stop to the consumer.
  virtual void complete(Step step, CaptureCompletion completion, std::optional<NSError> result);
  // A capture object was made; closed() follows when it goes.
  virtual void opened(const std::shared_ptr<SimulatedMicrophoneState>&) {}
  virtual void opened(const std::shared_ptr<SimulatedStreamState>&) {}
  virtual void closed(const void* /*state*/) {}
  // Takes a device off the lists; what already captures from it carries on.
  void forgetMicrophone(const std::string& uniqueID) EXCLUDES(mutex_);
  void forgetDisplay(std::uint32_t displayID) EXCLUDES(mutex_);
  // Ends the current run of `state`: pacing stops, then its gate closes (which
  // waits for a buffer being handled). False when it was not running.
  template <typename State>
  bool endRun(State& state) EXCLUDES(mutex_) {
    unschedule(&state);
    auto gate = state.endRun();
    if (gate) gate->close();
    return gate != nullptr;
  }

 private:
  struct Microphone {
    MicrophoneInfo info;
    std::optional<SimulatedSignal> signal;
    bool followsRequest = false;
  };
  struct Display {
    std::uint32_t displayID;
    std::optional<SimulatedSignal> signal;
  };
  struct PacedSource;

  void schedule(std::unique_ptr<PacedSource> source) EXCLUDES(mutex_);
  void unschedule(const void* owner) EXCLUDES(mutex_);
  void runPacer() EXCLUDES(mutex_);

  mutable Mutex mutex_;
  std::vector<Microphone> microphones_ GUARDED_BY(mutex_);
  std::vector<Display> displays_ GUARDED_BY(mutex_);

  // The pacer: sources due at absolute deadlines, served by one thread that
  // starts with the first paced capture and ends with the backend.
  std::vector<std::unique_ptr<PacedSource>> pacedSources_ GUARDED_BY(mutex_);
  std::condition_variable_any pacerWake_;
  bool pacerStopping_ GUARDED_BY(mutex_) = false;
  std::thread pacer_ GUARDED_BY(mutex_);
};

}  // namespace harkwell
