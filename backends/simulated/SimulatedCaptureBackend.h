#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
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

// In-process microphones and displays.
//
// Manual mode (makeManual): no clock and no thread. The caller adds devices,
// sets permissions, injects failures and pushes sample buffers; every callback
// runs inside the call that caused it: completions on the calling thread,
// buffers on the consumer's queue through DispatchQueue::sync.
// Paced mode (makePaced): two microphones and one display, both permissions
// granted, and a timer thread that delivers their test tones in real time
// (absolute deadlines, so no drift) through DispatchQueue::async.
// The controls below work in both modes.
//
// Lifetime: capture objects keep the backend alive. No buffer reaches a
// consumer after its capture stopped or was destroyed. Completions still held
// when the backend goes away are answered then (access refused, content query
// failed, held start and stop results delivered).
// Thread affinity: any thread. Callbacks never run under the backend's lock.
class SimulatedCaptureBackend final : public CaptureBackend,
                                      public std::enable_shared_from_this<SimulatedCaptureBackend> {
 public:
  // Fixed devices of paced mode.
  static constexpr const char* kMicrophoneID = "simulated-microphone-1";
  static constexpr const char* kMicrophoneName = "Simulated Microphone";
  static constexpr const char* kHeadsetID = "simulated-microphone-2";
  static constexpr const char* kHeadsetName = "Simulated Headset Microphone";
  static constexpr std::uint32_t kDisplayID = 1;

  static std::shared_ptr<SimulatedCaptureBackend> makeManual();
  static std::shared_ptr<SimulatedCaptureBackend> makePaced();
  ~SimulatedCaptureBackend() override;

  SimulatedCaptureBackend(const SimulatedCaptureBackend&) = delete;
  SimulatedCaptureBackend& operator=(const SimulatedCaptureBackend&) = delete;

  // --- CaptureBackend ---------------------------------------------------------
  OperatingSystemVersion operatingSystemVersion() override EXCLUDES(mutex_);
  std::vector<MicrophoneInfo> microphones(const std::string& deviceType) override EXCLUDES(mutex_);
  CaptureAuthorizationStatus microphoneAuthorizationStatus() override EXCLUDES(mutex_);
  void requestMicrophoneAccess(std::function<void(bool)> completion) override EXCLUDES(mutex_);
  std::unique_ptr<MicrophoneCapture> openMicrophone(const std::string& uniqueID) override
      EXCLUDES(mutex_);
  void getShareableContent(std::function<void(ShareableContentAnswer)> completion) override
      EXCLUDES(mutex_);
  std::unique_ptr<DisplayStream> openDisplayStream(std::uint32_t displayID,
                                                   DisplayStreamSettings settings,
                                                   StreamStoppedHandler stopped) override
      EXCLUDES(mutex_);

  // --- Devices ----------------------------------------------------------------
  // Adds a microphone at the end of the list. With a signal, paced mode plays
  // it while a capture runs; `followsRequest` makes the tone take the rate and
  // channel count that the consumer asked for. Any thread.
  void addMicrophone(MicrophoneInfo info, std::optional<SimulatedSignal> signal = std::nullopt,
                     bool followsRequest = false) EXCLUDES(mutex_);
  // Removes it; its running captures stop by themselves (isRunning turns false).
  void removeMicrophone(const std::string& uniqueID) EXCLUDES(mutex_);
  // Adds a display at the end of the list. With a signal, paced mode plays it as
  // the display's system audio and adds screen frames. Any thread.
  void addDisplay(std::uint32_t displayID, std::optional<SimulatedSignal> signal = std::nullopt)
      EXCLUDES(mutex_);
  // Removes it; its capturing streams stop with an error (delegate told).
  void removeDisplay(std::uint32_t displayID) EXCLUDES(mutex_);

  // --- System and permissions -------------------------------------------------
  void setOperatingSystemVersion(OperatingSystemVersion version) EXCLUDES(mutex_);
  // The device types that microphones() was asked for, in call order.
  std::vector<std::string> requestedDeviceTypes() const EXCLUDES(mutex_);

  void setAuthorizationStatus(CaptureAuthorizationStatus status) EXCLUDES(mutex_);
  enum class AccessAnswer { granted, denied, pending };
  // How access requests are answered; `pending` holds them for answerAccessRequest.
  void setAccessAnswer(AccessAnswer answer) EXCLUDES(mutex_);
  // Answers every held access request on the calling thread; returns how many.
  std::size_t answerAccessRequest(bool granted) EXCLUDES(mutex_);
  std::size_t accessRequestCount() const EXCLUDES(mutex_);

  // Makes shareable-content queries fail with `error` (nullopt: succeed).
  void setShareableContentError(std::optional<NSError> error) EXCLUDES(mutex_);
  // Holds queries until answerShareableContent(), which answers them (on the
  // calling thread) from the state at that moment; returns how many.
  void setShareableContentPending(bool pending) EXCLUDES(mutex_);
  std::size_t answerShareableContent() EXCLUDES(mutex_);
  std::size_t shareableContentQueryCount() const EXCLUDES(mutex_);

  // --- Failures (each applies once, to the next such call) --------------------
  void failNextMicrophoneOpen(NSError error) EXCLUDES(mutex_);
  void failNextMicrophoneStart(NSError error) EXCLUDES(mutex_);
  void failNextAddOutput(NSError error) EXCLUDES(mutex_);
  void failNextStreamStart(NSError error) EXCLUDES(mutex_);
  void failNextStreamStop(NSError error) EXCLUDES(mutex_);

  // Holds stream start / stop completions until released. A held start already
  // captures (buffers flow); a held stop has already stopped delivery.
  void holdStreamStartCompletions(bool hold) EXCLUDES(mutex_);
  void holdStreamStopCompletions(bool hold) EXCLUDES(mutex_);
  // Runs the held completions on the calling thread, oldest first; returns how many.
  std::size_t releaseStreamStartCompletions() EXCLUDES(mutex_);
  std::size_t releaseStreamStopCompletions() EXCLUDES(mutex_);

  // Ends every capturing stream on `displayID` with `error`: delivery stops and
  // the stopped handler runs on the calling thread. Returns how many.
  std::size_t stopStreamsWithError(std::uint32_t displayID, NSError error) EXCLUDES(mutex_);
  // Every running capture of `uniqueID` stops by itself (its stopped handler
  // runs on the calling thread). Returns how many.
  std::size_t stopMicrophoneCaptures(const std::string& uniqueID) EXCLUDES(mutex_);

  // --- Delivery (manual) ------------------------------------------------------
  // Hands `sampleBuffer` to every running capture of the microphone, on its
  // queue (sync). Returns how many received it.
  std::size_t deliverToMicrophone(const std::string& uniqueID, CMSampleBufferRef sampleBuffer)
      EXCLUDES(mutex_);
  // Hands `sampleBuffer` to every output of `kind` of every capturing stream on
  // the display, on the output's queue (sync). Returns how many received it.
  std::size_t deliverToDisplay(std::uint32_t displayID, DisplayOutputKind kind,
                               CMSampleBufferRef sampleBuffer) EXCLUDES(mutex_);

  // --- Observation ------------------------------------------------------------
  std::size_t openMicrophoneCount() const EXCLUDES(mutex_);
  std::size_t runningMicrophoneCount() const EXCLUDES(mutex_);
  std::size_t openStreamCount() const EXCLUDES(mutex_);
  std::size_t runningStreamCount() const EXCLUDES(mutex_);
  // What the latest capture of `uniqueID` asked for (nullopt: never configured).
  std::optional<AudioOutputSettings> requestedSettings(const std::string& uniqueID) const
      EXCLUDES(mutex_);
  // The settings of the latest stream opened on `displayID`.
  std::optional<DisplayStreamSettings> streamSettings(std::uint32_t displayID) const
      EXCLUDES(mutex_);

  // Called by the capture objects. Any thread.
  std::optional<NSError> startMicrophone(const std::shared_ptr<SimulatedMicrophoneState>& state)
      EXCLUDES(mutex_);
  void stopMicrophone(const std::shared_ptr<SimulatedMicrophoneState>& state) EXCLUDES(mutex_);
  void closeMicrophone(const SimulatedMicrophoneState* state) EXCLUDES(mutex_);
  void addStreamOutput(const std::shared_ptr<SimulatedStreamState>& state, DisplayOutputKind kind,
                       std::shared_ptr<DispatchQueue> queue, SampleBufferHandler handler)
      EXCLUDES(mutex_);
  void startStream(const std::shared_ptr<SimulatedStreamState>& state, CaptureCompletion completion)
      EXCLUDES(mutex_);
  void stopStream(const std::shared_ptr<SimulatedStreamState>& state, CaptureCompletion completion)
      EXCLUDES(mutex_);
  void closeStream(const std::shared_ptr<SimulatedStreamState>& state) EXCLUDES(mutex_);

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
  struct HeldCompletion {
    CaptureCompletion completion;
    std::optional<NSError> result;
  };
  struct PacedSource;

  explicit SimulatedCaptureBackend(bool paced);

  void schedule(std::unique_ptr<PacedSource> source) EXCLUDES(mutex_);
  void unschedule(const void* owner) EXCLUDES(mutex_);
  void runPacer() EXCLUDES(mutex_);
  ShareableContentAnswer contentAnswer() const REQUIRES(mutex_);
  std::vector<std::shared_ptr<SimulatedMicrophoneState>> microphoneStates(
      const std::string& uniqueID) REQUIRES(mutex_);
  std::vector<std::shared_ptr<SimulatedStreamState>> streamStates(std::uint32_t displayID)
      REQUIRES(mutex_);

  const bool paced_;
  mutable Mutex mutex_;
  OperatingSystemVersion version_ GUARDED_BY(mutex_){14, 0, 0};
  std::vector<Microphone> microphones_ GUARDED_BY(mutex_);
  std::vector<Display> displays_ GUARDED_BY(mutex_);
  std::vector<std::string> requestedDeviceTypes_ GUARDED_BY(mutex_);
  CaptureAuthorizationStatus authorization_ GUARDED_BY(mutex_) =
      CaptureAuthorizationStatus::authorized;
  AccessAnswer accessAnswer_ GUARDED_BY(mutex_) = AccessAnswer::granted;
  std::vector<std::function<void(bool)>> pendingAccess_ GUARDED_BY(mutex_);
  std::size_t accessRequests_ GUARDED_BY(mutex_) = 0;
  std::optional<NSError> contentError_ GUARDED_BY(mutex_);
  bool contentPending_ GUARDED_BY(mutex_) = false;
  std::vector<std::function<void(ShareableContentAnswer)>> pendingContent_ GUARDED_BY(mutex_);
  std::size_t contentQueries_ GUARDED_BY(mutex_) = 0;
  std::optional<NSError> failMicrophoneOpen_ GUARDED_BY(mutex_);
  std::optional<NSError> failMicrophoneStart_ GUARDED_BY(mutex_);
  std::optional<NSError> failAddOutput_ GUARDED_BY(mutex_);
  std::optional<NSError> failStreamStart_ GUARDED_BY(mutex_);
  std::optional<NSError> failStreamStop_ GUARDED_BY(mutex_);
  bool holdStart_ GUARDED_BY(mutex_) = false;
  bool holdStop_ GUARDED_BY(mutex_) = false;
  std::vector<HeldCompletion> heldStarts_ GUARDED_BY(mutex_);
  std::vector<HeldCompletion> heldStops_ GUARDED_BY(mutex_);
  std::vector<std::weak_ptr<SimulatedMicrophoneState>> microphoneCaptures_ GUARDED_BY(mutex_);
  std::vector<std::weak_ptr<SimulatedStreamState>> streams_ GUARDED_BY(mutex_);
  std::map<std::string, AudioOutputSettings> requestedSettings_ GUARDED_BY(mutex_);
  std::map<std::uint32_t, DisplayStreamSettings> streamSettings_ GUARDED_BY(mutex_);

  // The pacer: sources due at absolute deadlines, served by one thread that
  // starts with the first paced capture and ends with the backend.
  std::vector<std::unique_ptr<PacedSource>> pacedSources_ GUARDED_BY(mutex_);
  std::condition_variable_any pacerWake_;
  bool pacerStopping_ GUARDED_BY(mutex_) = false;
  std::thread pacer_ GUARDED_BY(mutex_);
};

}  // namespace harkwell
