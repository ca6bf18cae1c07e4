#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "backends/simulated/SimulatedCaptureBackend.h"
#include "backends/simulated/SimulatedDisplayStream.h"
#include "backends/simulated/SimulatedMicrophoneCapture.h"

namespace harkwell {

// The simulated backend with test controls: one-shot failures, held stream
// completions, scripted access and content answers, devices that go away,
// buffers pushed by hand and counters of what is open.
// makeManual(): no devices and no pacing; every callback runs inside the call
// that caused it (completions on the calling thread, buffers on the consumer's
// queue through DispatchQueue::sync). makePaced(): the shipped devices, paced.
// Completions still held when the backend goes away are answered then.
// Thread affinity: any thread; `controls_` is taken after no other lock and
// only around the states' own (leaf) locks.
class SimulatedTestBackend final : public SimulatedCaptureBackend {
 public:
  static std::shared_ptr<SimulatedTestBackend> makeManual() {
    return std::shared_ptr<SimulatedTestBackend>(new SimulatedTestBackend());
  }
  static std::shared_ptr<SimulatedTestBackend> makePaced() {
    auto backend = makeManual();
    backend->addPacedDevices();
    return backend;
  }

  // No other thread can reach us any more, so no lock.
  ~SimulatedTestBackend() override {
    for (auto& completion : pendingAccess_) completion(false);
    for (auto& completion : pendingContent_) {
      completion({{}, makeCaptureError(CaptureErrorCode::noBackend, "The backend shut down")});
    }
    for (auto& [step, held] : held_) {
      for (auto& [completion, result] : held) {
        SimulatedCaptureBackend::complete(step, std::move(completion), std::move(result));
      }
    }
  }

  // --- System and permissions -------------------------------------------------
  void setOperatingSystemVersion(OperatingSystemVersion version) EXCLUDES(controls_) {
    MutexLock lock(controls_);
    version_ = version;
  }
  // The device types that microphones() was asked for, in call order.
  std::vector<std::string> requestedDeviceTypes() const EXCLUDES(controls_) {
    MutexLock lock(controls_);
    return deviceTypes_;
  }
  void setAuthorizationStatus(CaptureAuthorizationStatus status) { authorization_ = status; }
  enum class AccessAnswer { granted, denied, pending };
  // How access requests are answered; `pending` holds them for answerAccessRequest.
  void setAccessAnswer(AccessAnswer answer) { accessAnswer_ = answer; }
  // Answers every held request on the calling thread, and authorises or denies
  // as the system does; returns how many.
  std::size_t answerAccessRequest(bool granted) EXCLUDES(controls_) {
    std::vector<std::function<void(bool)>> pending;
    {
      MutexLock lock(controls_);
      pending.swap(pendingAccess_);
      authorization_ =
          granted ? CaptureAuthorizationStatus::authorized : CaptureAuthorizationStatus::denied;
    }
    for (auto& completion : pending) completion(granted);
    return pending.size();
  }
  std::size_t accessRequestCount() const { return accessRequests_; }

  // Content queries fail with `error` (nullopt: succeed); pending ones wait for
  // answerShareableContent(), which answers them from the state at that moment.
  void setShareableContentError(std::optional<NSError> error) EXCLUDES(controls_) {
    MutexLock lock(controls_);
    contentError_ = std::move(error);
  }
  void setShareableContentPending(bool pending) { contentPending_ = pending; }
  std::size_t answerShareableContent() EXCLUDES(controls_) {
    std::vector<std::function<void(ShareableContentAnswer)>> pending;
    {
      MutexLock lock(controls_);
      pending.swap(pendingContent_);
    }
    for (auto& completion : pending) answerContent(std::move(completion));
    return pending.size();
  }
  std::size_t shareableContentQueryCount() const { return contentQueries_; }

  // --- Failures and held completions ------------------------------------------
  // Each failure applies once, to the next such call.
  void failNextMicrophoneOpen(NSError error) { failNext(Step::microphoneOpen, std::move(error)); }
  void failNextAddOutput(NSError error) { failNext(Step::addOutput, std::move(error)); }
  void failNextStreamStart(NSError error) { failNext(Step::streamStart, std::move(error)); }
  void failNextStreamStop(NSError error) { failNext(Step::streamStop, std::move(error)); }
  // A held start already captures; a held stop has already stopped delivery.
  // Releasing runs the held ones on the calling thread, oldest first.
  void holdStreamStartCompletions(bool hold) { holds(Step::streamStart, hold); }
  void holdStreamStopCompletions(bool hold) { holds(Step::streamStop, hold); }
  std::size_t releaseStreamStartCompletions() { return release(Step::streamStart); }
  std::size_t releaseStreamStopCompletions() { return release(Step::streamStop); }

  // --- Devices going away -------------------------------------------------------
  // The captures these end have their stopped handlers run on the calling
  // thread; the stop calls return how many they ended.
  std::size_t stopStreamsWithError(std::uint32_t displayID, const NSError& error) {
    std::size_t stopped = 0;
    for (const auto& state : streamsOn(displayID)) {
      if (!endRun(*state)) continue;
      state->notifyStopped(error);
      ++stopped;
    }
    return stopped;
  }
  std::size_t stopMicrophoneCaptures(const std::string& uniqueID) {
    std::size_t stopped = 0;
    for (const auto& state : capturesOf(uniqueID)) {
      if (!endRun(*state)) continue;
      ++stopped;
      if (auto handler = state->stopped()) {
        handler(makeCaptureError(CaptureErrorCode::stoppedUnexpectedly, "The microphone stopped"));
      }
    }
    return stopped;
  }
  void removeMicrophone(const std::string& uniqueID) {
    forgetMicrophone(uniqueID);
    stopMicrophoneCaptures(uniqueID);
  }
  void removeDisplay(std::uint32_t displayID) {
    forgetDisplay(displayID);
    stopStreamsWithError(displayID, makeCaptureError(CaptureErrorCode::stoppedUnexpectedly,
                                                     "The display was disconnected"));
  }

  // --- Delivery by hand (sync, on the consumer's queue); returns how many got it
  std::size_t deliverToMicrophone(const std::string& uniqueID, CMSampleBufferRef sampleBuffer) {
    std::size_t delivered = 0;
    for (const auto& state : capturesOf(uniqueID)) {
      if (auto sink = state->currentSink(); sink && sink->deliverSync(sampleBuffer)) ++delivered;
    }
    return delivered;
  }
  std::size_t deliverToDisplay(std::uint32_t displayID, DisplayOutputKind kind,
                               CMSampleBufferRef sampleBuffer) {
    std::size_t delivered = 0;
    for (const auto& state : streamsOn(displayID)) {
      for (const auto& sink : state->sinks(kind)) delivered += sink.deliverSync(sampleBuffer);
    }
    return delivered;
  }

  // --- Observation ----------------------------------------------------------------
  std::size_t openMicrophoneCount() const EXCLUDES(controls_) {
    MutexLock lock(controls_);
    return microphones_.size();
  }
  std::size_t runningMicrophoneCount() const EXCLUDES(controls_) {
    MutexLock lock(controls_);
    return std::ranges::count_if(microphones_, &SimulatedMicrophoneState::isRunning);
  }
  std::size_t openStreamCount() const EXCLUDES(controls_) {
    MutexLock lock(controls_);
    return streams_.size();
  }
  std::size_t runningStreamCount() const EXCLUDES(controls_) {
    MutexLock lock(controls_);
    return std::ranges::count_if(streams_, &SimulatedStreamState::isCapturing);
  }
  // What the latest open capture of `uniqueID` asked for.
  std::optional<AudioOutputSettings> requestedSettings(const std::string& uniqueID) const {
    const auto states = capturesOf(uniqueID);
    return states.empty() ? std::nullopt : std::optional(states.back()->requested());
  }
  // The settings of the latest open stream on `displayID`.
  std::optional<DisplayStreamSettings> streamSettings(std::uint32_t displayID) const {
    const auto states = streamsOn(displayID);
    return states.empty() ? std::nullopt : std::optional(states.back()->settings());
  }

  // --- CaptureBackend, as scripted ------------------------------------------------
  OperatingSystemVersion operatingSystemVersion() override EXCLUDES(controls_) {
    MutexLock lock(controls_);
    return version_;
  }
  std::vector<MicrophoneInfo> microphones(const std::string& deviceType) override
      EXCLUDES(controls_) {
    {
      MutexLock lock(controls_);
      deviceTypes_.push_back(deviceType);
    }
    return SimulatedCaptureBackend::microphones(deviceType);
  }
  CaptureAuthorizationStatus microphoneAuthorizationStatus() override { return authorization_; }
  void requestMicrophoneAccess(std::function<void(bool)> completion) override EXCLUDES(controls_) {
    bool granted;
    {
      MutexLock lock(controls_);
      ++accessRequests_;
      if (accessAnswer_ == AccessAnswer::pending) {
        if (completion) pendingAccess_.push_back(std::move(completion));
        return;
      }
      granted = accessAnswer_ == AccessAnswer::granted;
    }
    if (completion) completion(granted);
  }
  void getShareableContent(std::function<void(ShareableContentAnswer)> completion) override
      EXCLUDES(controls_) {
    {
      MutexLock lock(controls_);
      ++contentQueries_;
      if (contentPending_) {
        if (completion) pendingContent_.push_back(std::move(completion));
        return;
      }
    }
    answerContent(std::move(completion));
  }

 private:
  using Held = std::pair<CaptureCompletion, std::optional<NSError>>;

  SimulatedTestBackend() = default;

  void answerContent(std::function<void(ShareableContentAnswer)> completion) EXCLUDES(controls_) {
    std::optional<NSError> error;
    {
      MutexLock lock(controls_);
      error = contentError_;
    }
    if (!error) return SimulatedCaptureBackend::getShareableContent(std::move(completion));
    if (completion) completion({{}, std::move(error)});
  }
  void failNext(Step step, NSError error) EXCLUDES(controls_) {
    MutexLock lock(controls_);
    failures_.insert_or_assign(step, std::move(error));
  }
  void holds(Step step, bool hold) EXCLUDES(controls_) {
    MutexLock lock(controls_);
    if (hold) {
      holding_.insert(step);
    } else {
      holding_.erase(step);
    }
  }
  std::size_t release(Step step) EXCLUDES(controls_) {
    std::vector<Held> held;
    {
      MutexLock lock(controls_);
      held.swap(held_[step]);
    }
    for (auto& [completion, result] : held) {
      SimulatedCaptureBackend::complete(step, std::move(completion), std::move(result));
    }
    return held.size();
  }
  std::vector<std::shared_ptr<SimulatedMicrophoneState>> capturesOf(
      const std::string& uniqueID) const EXCLUDES(controls_) {
    MutexLock lock(controls_);
    std::vector<std::shared_ptr<SimulatedMicrophoneState>> found;
    std::ranges::copy_if(microphones_, std::back_inserter(found),
                         [&](const auto& state) { return state->uniqueID() == uniqueID; });
    return found;
  }
  std::vector<std::shared_ptr<SimulatedStreamState>> streamsOn(std::uint32_t displayID) const
      EXCLUDES(controls_) {
    MutexLock lock(controls_);
    std::vector<std::shared_ptr<SimulatedStreamState>> found;
    std::ranges::copy_if(streams_, std::back_inserter(found),
                         [&](const auto& state) { return state->displayID() == displayID; });
    return found;
  }

  // --- Hooks ------------------------------------------------------------------
  std::optional<NSError> injectedFailure(Step step) override EXCLUDES(controls_) {
    MutexLock lock(controls_);
    auto failure = failures_.extract(step);
    if (failure.empty()) return std::nullopt;
    return std::move(failure.mapped());
  }
  void complete(Step step, CaptureCompletion completion, std::optional<NSError> result) override
      EXCLUDES(controls_) {
    {
      MutexLock lock(controls_);
      if (holding_.contains(step)) {
        held_[step].emplace_back(std::move(completion), std::move(result));
        return;
      }
    }
    SimulatedCaptureBackend::complete(step, std::move(completion), std::move(result));
  }
  void opened(const std::shared_ptr<SimulatedMicrophoneState>& state) override EXCLUDES(controls_) {
    MutexLock lock(controls_);
    microphones_.push_back(state);
  }
  void opened(const std::shared_ptr<SimulatedStreamState>& state) override EXCLUDES(controls_) {
    MutexLock lock(controls_);
    streams_.push_back(state);
  }
  void closed(const void* state) override EXCLUDES(controls_) {
    MutexLock lock(controls_);
    std::erase_if(microphones_, [&](const auto& open) { return open.get() == state; });
    std::erase_if(streams_, [&](const auto& open) { return open.get() == state; });
  }

  mutable Mutex controls_;
  OperatingSystemVersion version_ GUARDED_BY(controls_){14, 0, 0};
  std::vector<std::string> deviceTypes_ GUARDED_BY(controls_);
  std::vector<std::function<void(bool)>> pendingAccess_ GUARDED_BY(controls_);
  std::optional<NSError> contentError_ GUARDED_BY(controls_);
  std::vector<std::function<void(ShareableContentAnswer)>> pendingContent_ GUARDED_BY(controls_);
  // Single values that no list depends on.
  std::atomic<CaptureAuthorizationStatus> authorization_ = CaptureAuthorizationStatus::authorized;
  std::atomic<AccessAnswer> accessAnswer_ = AccessAnswer::granted;
  std::atomic<bool> contentPending_ = false;
  std::atomic<std::size_t> accessRequests_ = 0;
  std::atomic<std::size_t> contentQueries_ = 0;
  std::map<Step, NSError> failures_ GUARDED_BY(controls_);
  std::set<Step> holding_ GUARDED_BY(controls_);
  std::map<Step, std::vector<Held>> held_ GUARDED_BY(controls_);
  std::vector<std::shared_ptr<SimulatedMicrophoneState>> microphones_ GUARDED_BY(controls_);
  std::vector<std::shared_ptr<SimulatedStreamState>> streams_ GUARDED_BY(controls_);
};

}  // namespace harkwell
