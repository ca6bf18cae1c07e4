#pragma once

#include <algorithm>
#include <atomic>
#include <iterator>
#include <map>
#include <set>
#include <tuple>
#include <utility>

#include "backends/simulated/SimulatedCaptureBackend.h"
#include "backends/simulated/SimulatedDisplayStream.h"
#include "backends/simulated/SimulatedMicrophoneCapture.h"

namespace harkwell {

// The simulated backend with test controls: one-shot failures, held
// completions, scripted access and content answers, devices that go away,
// buffers pushed by hand and counters of what is open.
// makeManual(): no devices and no pacing; every callback runs inside the call
// that caused it (buffers on the consumer's queue through DispatchQueue::sync).
// makePaced(): the shipped devices, paced. Whatever is still held when the
// backend goes away is answered then. Any thread; `controls_` is taken after
// no other lock and only around the states' own (leaf) locks.
class SimulatedTestBackend final : public SimulatedCaptureBackend {
  using Self = SimulatedTestBackend;
  using Mic = SimulatedMicrophoneState;
  using Stream = SimulatedStreamState;
  template <class State>
  using Open = std::vector<std::shared_ptr<State>>;

  // Under the lock: a copy of `field`, `use` run on it, or its old value as it takes `value`.
  template <class T>
  T get(T Self::*field) const EXCLUDES(controls_) {
    MutexLock lock(controls_);
    return this->*field;
  }
  template <class T, class Use>
  auto locked(T Self::*field, Use use) EXCLUDES(controls_) {
    MutexLock lock(controls_);
    return use(this->*field);
  }
  template <class T>
  T exchange(T Self::*field, T value) EXCLUDES(controls_) {
    MutexLock lock(controls_);
    return std::exchange(this->*field, std::move(value));
  }

 public:
  using SimulatedCaptureBackend::Step;
  static constexpr Step allSteps[] = {Step::microphoneOpen, Step::addOutput, Step::streamStart,
                                      Step::streamStop};
  enum class AccessAnswer { granted, denied, pending };

  static std::shared_ptr<SimulatedTestBackend> makeManual() {
    return std::shared_ptr<SimulatedTestBackend>(new SimulatedTestBackend());
  }
  static std::shared_ptr<SimulatedTestBackend> makePaced() {
    auto backend = makeManual();
    backend->addPacedDevices();
    return backend;
  }

  ~SimulatedTestBackend() override {
    answerAccessRequest(false);
    for (auto& completion : exchange(&Self::pendingContent_, {})) {
      completion({{}, makeCaptureError(CaptureErrorCode::noBackend, "The backend shut down")});
    }
    for (Step step : allSteps) release(step);
  }

  void setOperatingSystemVersion(OperatingSystemVersion version) {
    exchange(&Self::version_, version);
  }
  // The last few device types that microphones() was asked for, in call order
  // (a few, so that a soak's record stays flat).
  std::vector<std::string> requestedDeviceTypes() const { return get(&Self::deviceTypes_); }
  void setAuthorizationStatus(CaptureAuthorizationStatus status) { authorization_ = status; }
  void setAccessAnswer(AccessAnswer answer) { accessAnswer_ = answer; }
  // Answers the pending requests and authorises or denies as the system does.
  std::size_t answerAccessRequest(bool granted) EXCLUDES(controls_) {
    authorization_ =
        granted ? CaptureAuthorizationStatus::authorized : CaptureAuthorizationStatus::denied;
    auto pending = exchange(&Self::pendingAccess_, {});
    for (auto& completion : pending) completion(granted);
    return pending.size();
  }
  std::size_t accessRequestCount() const { return accessRequests_; }

  // Content queries fail with `error` (nullopt: succeed); pending ones wait for
  // answerShareableContent(), which answers them from the state at that moment.
  void setShareableContentError(std::optional<NSError> error) {
    exchange(&Self::contentError_, std::move(error));
  }
  void setShareableContentPending(bool pending) { contentPending_ = pending; }
  std::size_t answerShareableContent() EXCLUDES(controls_) {
    auto pending = exchange(&Self::pendingContent_, {});
    for (auto& completion : pending) answerContent(completion);
    return pending.size();
  }
  std::size_t shareableContentQueryCount() const { return contentQueries_; }

  // The next call of `step` fails with `error`, once.
  void failNext(Step step, NSError error) {
    locked(&Self::failures_, [&](auto& next) { next.insert_or_assign(step, error); });
  }
  void failNextMicrophoneOpen(NSError error) { failNext(Step::microphoneOpen, std::move(error)); }
  void failNextAddOutput(NSError error) { failNext(Step::addOutput, std::move(error)); }
  void failNextStreamStart(NSError error) { failNext(Step::streamStart, std::move(error)); }
  void failNextStreamStop(NSError error) { failNext(Step::streamStop, std::move(error)); }
  // Holds the completions of `step` until release(), which runs them on the
  // calling thread, oldest first. A held start already captures; a held stop
  // has already stopped delivery.
  void hold(Step step, bool on) {
    locked(&Self::holding_,
           [&](auto& held) { on ? void(held.insert(step)) : void(held.erase(step)); });
  }
  std::size_t release(Step step) EXCLUDES(controls_) {
    auto held = locked(&Self::held_, [&](auto& all) { return std::exchange(all[step], {}); });
    for (auto& [completion, result] : held) {
      SimulatedCaptureBackend::complete(step, std::move(completion), std::move(result));
    }
    return held.size();
  }

  // Lets every held completion and pending content query through.
  void releaseAll() {
    for (Step step : allSteps) {
      hold(step, false);
      release(step);
    }
    setShareableContentPending(false);
    answerShareableContent();
  }

  // The captures these end have their stopped handlers run on the calling
  // thread; the stop calls return how many they ended.
  std::size_t stopStreamsWithError(std::uint32_t displayID, const NSError& error) {
    std::size_t stopped = 0;
    for (const auto& state : streamsOn(displayID)) {
      if (endRun(*state)) ++stopped, state->notifyStopped(error);
    }
    return stopped;
  }
  std::size_t stopMicrophoneCaptures(const std::string& uniqueID) {
    const NSError error =
        makeCaptureError(CaptureErrorCode::stoppedUnexpectedly, "The microphone stopped");
    std::size_t stopped = 0;
    for (const auto& state : capturesOf(uniqueID)) {
      if (!endRun(*state)) continue;
      ++stopped;
      if (auto handler = state->stopped()) handler(error);
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

  // Delivery by hand (sync, on the consumer's queue); returns how many got it.
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

  std::size_t openMicrophoneCount() const { return open<Mic>().size(); }
  std::size_t runningMicrophoneCount() const { return open<Mic>(&Mic::isRunning).size(); }
  std::size_t openStreamCount() const { return open<Stream>().size(); }
  std::size_t runningStreamCount() const { return open<Stream>(&Stream::isCapturing).size(); }
  // What the latest open capture of `uniqueID` asked for.
  std::optional<AudioOutputSettings> requestedSettings(const std::string& uniqueID) const {
    const auto states = capturesOf(uniqueID);
    return states.empty() ? std::nullopt : std::optional(states.back()->requested());
  }
  std::optional<DisplayStreamSettings> streamSettings(std::uint32_t displayID) const {
    const auto states = streamsOn(displayID);
    return states.empty() ? std::nullopt : std::optional(states.back()->settings());
  }

  OperatingSystemVersion operatingSystemVersion() override { return get(&Self::version_); }
  std::vector<MicrophoneInfo> microphones(const std::string& deviceType) override
      EXCLUDES(controls_) {
    locked(&Self::deviceTypes_, [&](auto& types) {
      if (types.size() == 8) types.erase(types.begin());
      types.push_back(deviceType);
    });
    return SimulatedCaptureBackend::microphones(deviceType);
  }
  CaptureAuthorizationStatus microphoneAuthorizationStatus() override { return authorization_; }
  void requestMicrophoneAccess(std::function<void(bool)> completion) override EXCLUDES(controls_) {
    ++accessRequests_;
    if (!completion) return;
    const AccessAnswer answer = accessAnswer_;
    if (answer != AccessAnswer::pending) return completion(answer == AccessAnswer::granted);
    locked(&Self::pendingAccess_, [&](auto& held) { held.push_back(completion); });
  }
  void getShareableContent(std::function<void(ShareableContentAnswer)> completion) override
      EXCLUDES(controls_) {
    ++contentQueries_;
    if (!contentPending_) return answerContent(completion);
    if (completion) locked(&Self::pendingContent_, [&](auto& held) { held.push_back(completion); });
  }

 private:
  using Held = std::pair<CaptureCompletion, std::optional<NSError>>;

  SimulatedTestBackend() = default;

  void answerContent(std::function<void(ShareableContentAnswer)>& completion) {
    std::optional<NSError> error = get(&Self::contentError_);
    if (!error) return SimulatedCaptureBackend::getShareableContent(std::move(completion));
    if (completion) completion({{}, std::move(error)});
  }
  // The open states that `keep` (null: all) accepts, oldest first.
  template <class State>
  Open<State> open(std::function<bool(const State&)> keep = nullptr) const EXCLUDES(controls_) {
    MutexLock lock(controls_);
    Open<State> found;
    std::ranges::copy_if(std::get<Open<State>>(open_), std::back_inserter(found),
                         [&](const auto& state) { return !keep || keep(*state); });
    return found;
  }
  Open<Mic> capturesOf(const std::string& uniqueID) const {
    return open<Mic>([&](const Mic& state) { return state.uniqueID() == uniqueID; });
  }
  Open<Stream> streamsOn(std::uint32_t displayID) const {
    return open<Stream>([&](const Stream& state) { return state.displayID() == displayID; });
  }

  std::optional<NSError> injectedFailure(Step step) override EXCLUDES(controls_) {
    MutexLock lock(controls_);
    auto failure = failures_.extract(step);
    return failure.empty() ? std::nullopt : std::optional(std::move(failure.mapped()));
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
  void opened(const std::shared_ptr<Mic>& state) override EXCLUDES(controls_) {
    MutexLock lock(controls_);
    std::get<Open<Mic>>(open_).push_back(state);
  }
  void opened(const std::shared_ptr<Stream>& state) override EXCLUDES(controls_) {
    MutexLock lock(controls_);
    std::get<Open<Stream>>(open_).push_back(state);
  }
  void closed(const void* state) override EXCLUDES(controls_) {
    MutexLock lock(controls_);
    std::apply(
        [&](auto&... lists) {
          (std::erase_if(lists, [&](auto& s) { return s.get() == state; }), ...);
        },
        open_);
  }

  mutable Mutex controls_;
  OperatingSystemVersion version_ GUARDED_BY(controls_){14, 0, 0};
  std::vector<std::string> deviceTypes_ GUARDED_BY(controls_);
  std::vector<std::function<void(bool)>> pendingAccess_ GUARDED_BY(controls_);
  std::optional<NSError> contentError_ GUARDED_BY(controls_);
  std::vector<std::function<void(ShareableContentAnswer)>> pendingContent_ GUARDED_BY(controls_);
  std::map<Step, NSError> failures_ GUARDED_BY(controls_);
  std::set<Step> holding_ GUARDED_BY(controls_);
  std::map<Step, std::vector<Held>> held_ GUARDED_BY(controls_);
  std::tuple<Open<Mic>, Open<Stream>> open_ GUARDED_BY(controls_);
  std::atomic<CaptureAuthorizationStatus> authorization_ = CaptureAuthorizationStatus::authorized;
  std::atomic<AccessAnswer> accessAnswer_ = AccessAnswer::granted;
  std::atomic<bool> contentPending_ = false;
  std::atomic<std::size_t> accessRequests_ = 0, contentQueries_ = 0;
};

}  // namespace harkwell
