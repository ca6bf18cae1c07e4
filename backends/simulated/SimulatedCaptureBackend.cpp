#include "backends/simulated/SimulatedCaptureBackend.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

#include "backends/simulated/SimulatedDisplayStream.h"
#include "backends/simulated/SimulatedMicrophoneCapture.h"

namespace harkwell {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double kScreenFrameInterval = 1.0 / 30;  // seconds; the fastest screen rate

template <typename T>
std::optional<T> take(std::optional<T>& slot) {
  return std::exchange(slot, std::nullopt);
}

void callSafely(const CaptureCompletion& completion, std::optional<NSError> result) {
  if (!completion) return;
  // Completions are consumer code run from our threads: nothing may escape.
  try {
    completion(std::move(result));
  } catch (...) {
  }
}

}  // namespace

// One signal the pacer plays: the next buffer is due at start + count * period,
// an absolute deadline, so a late wake-up never shifts the ones after it.
struct SimulatedCaptureBackend::PacedSource {
  const void* owner;  // the capture state it plays for
  std::function<std::vector<SimulatedSink>()> targets;
  std::optional<SineSource> audio;  // screen frames when absent
  double period;                    // seconds per buffer
  Clock::time_point start;
  std::int64_t count = 0;

  Clock::time_point deadline() const {
    return start + std::chrono::duration_cast<Clock::duration>(
                       std::chrono::duration<double>(period * static_cast<double>(count)));
  }

  CMSampleBufferRef produce() {
    ++count;
    if (audio) return audio->next();
    return CMSampleBufferCreateVideoFrame(CMTimeMake(count - 1, 30));
  }
};

std::shared_ptr<SimulatedCaptureBackend> SimulatedCaptureBackend::makeManual() {
  return std::shared_ptr<SimulatedCaptureBackend>(new SimulatedCaptureBackend(false));
}

std::shared_ptr<SimulatedCaptureBackend> SimulatedCaptureBackend::makePaced() {
  auto backend = std::shared_ptr<SimulatedCaptureBackend>(new SimulatedCaptureBackend(true));
  SimulatedSignal microphone;  // follows the request: rate, channels and 10 ms buffers
  microphone.sampleRate = 16000;
  microphone.framesPerBuffer = 160;
  microphone.frequency = 440;
  backend->addMicrophone({kMicrophoneID, kMicrophoneName}, microphone, true);

  SimulatedSignal headset;
  headset.format = SimulatedSampleFormat::int16;
  headset.sampleRate = 44100;
  headset.channels = 2;
  headset.interleaved = true;
  headset.framesPerBuffer = 512;
  headset.frequency = 660;
  backend->addMicrophone({kHeadsetID, kHeadsetName}, headset);

  SimulatedSignal display;
  display.sampleRate = 48000;
  display.channels = 2;
  display.framesPerBuffer = 1024;
  display.frequency = 1000;
  backend->addDisplay(kDisplayID, display);
  return backend;
}

SimulatedCaptureBackend::SimulatedCaptureBackend(bool paced) : paced_(paced) {}

SimulatedCaptureBackend::~SimulatedCaptureBackend() {
  std::thread pacer;
  std::vector<std::function<void(bool)>> access;
  std::vector<std::function<void(ShareableContentAnswer)>> content;
  std::vector<HeldCompletion> held;
  {
    MutexLock lock(mutex_);
    pacerStopping_ = true;
    pacer = std::move(pacer_);
    access.swap(pendingAccess_);
    content.swap(pendingContent_);
    held = std::move(heldStarts_);
    for (auto& stop : heldStops_) held.push_back(std::move(stop));
  }
  pacerWake_.notify_all();
  if (pacer.joinable()) {
    // The pacer holds no reference to us, so this never runs on it; stay safe anyway.
    if (pacer.get_id() == std::this_thread::get_id()) {
      pacer.detach();
    } else {
      pacer.join();
    }
  }
  // Every completion runs exactly once, so the ones still held are answered now.
  for (auto& completion : access) {
    try {
      completion(false);
    } catch (...) {
    }
  }
  for (auto& completion : content) {
    try {
      completion({{}, makeCaptureError(CaptureErrorCode::noBackend, "The backend shut down")});
    } catch (...) {
    }
  }
  for (auto& completion : held) callSafely(completion.completion, std::move(completion.result));
}

// --- CaptureBackend ----------------------------------------------------------

OperatingSystemVersion SimulatedCaptureBackend::operatingSystemVersion() {
  MutexLock lock(mutex_);
  return version_;
}

std::vector<MicrophoneInfo> SimulatedCaptureBackend::microphones(const std::string& deviceType) {
  MutexLock lock(mutex_);
  requestedDeviceTypes_.push_back(deviceType);
  std::vector<MicrophoneInfo> result;
  for (const auto& microphone : microphones_) result.push_back(microphone.info);
  return result;
}

CaptureAuthorizationStatus SimulatedCaptureBackend::microphoneAuthorizationStatus() {
  MutexLock lock(mutex_);
  return authorization_;
}

void SimulatedCaptureBackend::requestMicrophoneAccess(std::function<void(bool)> completion) {
  bool granted;
  {
    MutexLock lock(mutex_);
    ++accessRequests_;
    if (accessAnswer_ == AccessAnswer::pending) {
      pendingAccess_.push_back(std::move(completion));
      return;
    }
    granted = accessAnswer_ == AccessAnswer::granted;
  }
  if (completion) completion(granted);
}

std::unique_ptr<MicrophoneCapture> SimulatedCaptureBackend::openMicrophone(
    const std::string& uniqueID) {
  auto state = std::make_shared<SimulatedMicrophoneState>(uniqueID);
  {
    MutexLock lock(mutex_);
    if (auto error = take(failMicrophoneOpen_)) throw *error;
    const bool exists =
        std::any_of(microphones_.begin(), microphones_.end(),
                    [&](const Microphone& m) { return m.info.uniqueID == uniqueID; });
    if (!exists) {
      throw makeCaptureError(CaptureErrorCode::deviceNotFound,
                             "No microphone with the id " + uniqueID);
    }
    microphoneCaptures_.push_back(state);
  }
  return std::make_unique<SimulatedMicrophoneCapture>(shared_from_this(), std::move(state));
}

void SimulatedCaptureBackend::getShareableContent(
    std::function<void(ShareableContentAnswer)> completion) {
  ShareableContentAnswer answer;
  {
    MutexLock lock(mutex_);
    ++contentQueries_;
    if (contentPending_) {
      pendingContent_.push_back(std::move(completion));
      return;
    }
    answer = contentAnswer();
  }
  if (completion) completion(std::move(answer));
}

std::unique_ptr<DisplayStream> SimulatedCaptureBackend::openDisplayStream(
    std::uint32_t displayID, DisplayStreamSettings settings, StreamStoppedHandler stopped) {
  auto state = std::make_shared<SimulatedStreamState>(displayID, settings, std::move(stopped));
  {
    MutexLock lock(mutex_);
    streamSettings_[displayID] = settings;
    streams_.push_back(state);
  }
  return std::make_unique<SimulatedDisplayStream>(shared_from_this(), std::move(state));
}

// --- Devices -----------------------------------------------------------------

void SimulatedCaptureBackend::addMicrophone(MicrophoneInfo info,
                                            std::optional<SimulatedSignal> signal,
                                            bool followsRequest) {
  MutexLock lock(mutex_);
  microphones_.push_back({std::move(info), signal, followsRequest});
}

void SimulatedCaptureBackend::removeMicrophone(const std::string& uniqueID) {
  {
    MutexLock lock(mutex_);
    std::erase_if(microphones_, [&](const Microphone& m) { return m.info.uniqueID == uniqueID; });
  }
  stopMicrophoneCaptures(uniqueID);
}

void SimulatedCaptureBackend::addDisplay(std::uint32_t displayID,
                                         std::optional<SimulatedSignal> signal) {
  MutexLock lock(mutex_);
  displays_.push_back({displayID, signal});
}

void SimulatedCaptureBackend::removeDisplay(std::uint32_t displayID) {
  {
    MutexLock lock(mutex_);
    std::erase_if(displays_, [&](const Display& d) { return d.displayID == displayID; });
  }
  stopStreamsWithError(displayID, makeCaptureError(CaptureErrorCode::stoppedUnexpectedly,
                                                   "The display was disconnected"));
}

// --- System and permissions --------------------------------------------------

void SimulatedCaptureBackend::setOperatingSystemVersion(OperatingSystemVersion version) {
  MutexLock lock(mutex_);
  version_ = version;
}

std::vector<std::string> SimulatedCaptureBackend::requestedDeviceTypes() const {
  MutexLock lock(mutex_);
  return requestedDeviceTypes_;
}

void SimulatedCaptureBackend::setAuthorizationStatus(CaptureAuthorizationStatus status) {
  MutexLock lock(mutex_);
  authorization_ = status;
}

void SimulatedCaptureBackend::setAccessAnswer(AccessAnswer answer) {
  MutexLock lock(mutex_);
  accessAnswer_ = answer;
}

std::size_t SimulatedCaptureBackend::answerAccessRequest(bool granted) {
  std::vector<std::function<void(bool)>> pending;
  {
    MutexLock lock(mutex_);
    pending.swap(pendingAccess_);
    // A granted request authorises, a refused one denies, as the system does.
    authorization_ =
        granted ? CaptureAuthorizationStatus::authorized : CaptureAuthorizationStatus::denied;
  }
  for (auto& completion : pending) {
    if (completion) completion(granted);
  }
  return pending.size();
}

std::size_t SimulatedCaptureBackend::accessRequestCount() const {
  MutexLock lock(mutex_);
  return accessRequests_;
}

void SimulatedCaptureBackend::setShareableContentError(std::optional<NSError> error) {
  MutexLock lock(mutex_);
  contentError_ = std::move(error);
}

void SimulatedCaptureBackend::setShareableContentPending(bool pending) {
  MutexLock lock(mutex_);
  contentPending_ = pending;
}

std::size_t SimulatedCaptureBackend::answerShareableContent() {
  std::vector<std::function<void(ShareableContentAnswer)>> pending;
  ShareableContentAnswer answer;
  {
    MutexLock lock(mutex_);
    pending.swap(pendingContent_);
    answer = contentAnswer();
  }
  for (auto& completion : pending) {
    if (completion) completion(answer);
  }
  return pending.size();
}

std::size_t SimulatedCaptureBackend::shareableContentQueryCount() const {
  MutexLock lock(mutex_);
  return contentQueries_;
}

ShareableContentAnswer SimulatedCaptureBackend::contentAnswer() const {
  if (contentError_) return {{}, contentError_};
  ShareableContentAnswer answer;
  for (const auto& display : displays_) answer.displays.push_back({display.displayID});
  return answer;
}

// --- Failures ----------------------------------------------------------------

void SimulatedCaptureBackend::failNextMicrophoneOpen(NSError error) {
  MutexLock lock(mutex_);
  failMicrophoneOpen_ = std::move(error);
}

void SimulatedCaptureBackend::failNextMicrophoneStart(NSError error) {
  MutexLock lock(mutex_);
  failMicrophoneStart_ = std::move(error);
}

void SimulatedCaptureBackend::failNextAddOutput(NSError error) {
  MutexLock lock(mutex_);
  failAddOutput_ = std::move(error);
}

void SimulatedCaptureBackend::failNextStreamStart(NSError error) {
  MutexLock lock(mutex_);
  failStreamStart_ = std::move(error);
}

void SimulatedCaptureBackend::failNextStreamStop(NSError error) {
  MutexLock lock(mutex_);
  failStreamStop_ = std::move(error);
}

void SimulatedCaptureBackend::holdStreamStartCompletions(bool hold) {
  MutexLock lock(mutex_);
  holdStart_ = hold;
}

void SimulatedCaptureBackend::holdStreamStopCompletions(bool hold) {
  MutexLock lock(mutex_);
  holdStop_ = hold;
}

std::size_t SimulatedCaptureBackend::releaseStreamStartCompletions() {
  std::vector<HeldCompletion> held;
  {
    MutexLock lock(mutex_);
    held.swap(heldStarts_);
  }
  for (auto& completion : held) callSafely(completion.completion, std::move(completion.result));
  return held.size();
}

std::size_t SimulatedCaptureBackend::releaseStreamStopCompletions() {
  std::vector<HeldCompletion> held;
  {
    MutexLock lock(mutex_);
    held.swap(heldStops_);
  }
  for (auto& completion : held) callSafely(completion.completion, std::move(completion.result));
  return held.size();
}

std::size_t SimulatedCaptureBackend::stopStreamsWithError(std::uint32_t displayID, NSError error) {
  std::vector<std::shared_ptr<SimulatedStreamState>> states;
  {
    MutexLock lock(mutex_);
    states = streamStates(displayID);
  }
  std::size_t stopped = 0;
  for (const auto& state : states) {
    unschedule(state.get());
    auto gate = state->endRun();
    if (!gate) continue;
    gate->close();
    state->notifyStopped(error);
    ++stopped;
  }
  return stopped;
}

std::size_t SimulatedCaptureBackend::stopMicrophoneCaptures(const std::string& uniqueID) {
  std::vector<std::shared_ptr<SimulatedMicrophoneState>> states;
  {
    MutexLock lock(mutex_);
    states = microphoneStates(uniqueID);
  }
  std::size_t stopped = 0;
  for (const auto& state : states) {
    unschedule(state.get());
    if (auto gate = state->endRun()) {
      gate->close();
      ++stopped;
      if (auto handler = state->stopped()) {
        handler(makeCaptureError(CaptureErrorCode::stoppedUnexpectedly, "The microphone stopped"));
      }
    }
  }
  return stopped;
}

// --- Delivery ----------------------------------------------------------------

std::size_t SimulatedCaptureBackend::deliverToMicrophone(const std::string& uniqueID,
                                                         CMSampleBufferRef sampleBuffer) {
  std::vector<std::shared_ptr<SimulatedMicrophoneState>> states;
  {
    MutexLock lock(mutex_);
    states = microphoneStates(uniqueID);
  }
  std::size_t delivered = 0;
  for (const auto& state : states) {
    if (auto sink = state->currentSink(); sink && sink->deliverSync(sampleBuffer)) ++delivered;
  }
  return delivered;
}

std::size_t SimulatedCaptureBackend::deliverToDisplay(std::uint32_t displayID,
                                                      DisplayOutputKind kind,
                                                      CMSampleBufferRef sampleBuffer) {
  std::vector<std::shared_ptr<SimulatedStreamState>> states;
  {
    MutexLock lock(mutex_);
    states = streamStates(displayID);
  }
  std::size_t delivered = 0;
  for (const auto& state : states) {
    for (const auto& sink : state->sinks(kind)) {
      if (sink.deliverSync(sampleBuffer)) ++delivered;
    }
  }
  return delivered;
}

// --- Observation -------------------------------------------------------------

std::size_t SimulatedCaptureBackend::openMicrophoneCount() const {
  MutexLock lock(mutex_);
  return static_cast<std::size_t>(std::count_if(microphoneCaptures_.begin(),
                                                microphoneCaptures_.end(),
                                                [](const auto& weak) { return !weak.expired(); }));
}

std::size_t SimulatedCaptureBackend::runningMicrophoneCount() const {
  MutexLock lock(mutex_);
  return static_cast<std::size_t>(
      std::count_if(microphoneCaptures_.begin(), microphoneCaptures_.end(), [](const auto& weak) {
        auto state = weak.lock();
        return state && state->isRunning();
      }));
}

std::size_t SimulatedCaptureBackend::openStreamCount() const {
  MutexLock lock(mutex_);
  return static_cast<std::size_t>(std::count_if(streams_.begin(), streams_.end(),
                                                [](const auto& weak) { return !weak.expired(); }));
}

std::size_t SimulatedCaptureBackend::runningStreamCount() const {
  MutexLock lock(mutex_);
  return static_cast<std::size_t>(
      std::count_if(streams_.begin(), streams_.end(), [](const auto& weak) {
        auto state = weak.lock();
        return state && state->isCapturing();
      }));
}

std::optional<AudioOutputSettings> SimulatedCaptureBackend::requestedSettings(
    const std::string& uniqueID) const {
  MutexLock lock(mutex_);
  if (auto it = requestedSettings_.find(uniqueID); it != requestedSettings_.end()) {
    return it->second;
  }
  return std::nullopt;
}

std::optional<DisplayStreamSettings> SimulatedCaptureBackend::streamSettings(
    std::uint32_t displayID) const {
  MutexLock lock(mutex_);
  if (auto it = streamSettings_.find(displayID); it != streamSettings_.end()) return it->second;
  return std::nullopt;
}

std::vector<std::shared_ptr<SimulatedMicrophoneState>> SimulatedCaptureBackend::microphoneStates(
    const std::string& uniqueID) {
  std::vector<std::shared_ptr<SimulatedMicrophoneState>> result;
  for (const auto& weak : microphoneCaptures_) {
    if (auto state = weak.lock(); state && state->uniqueID() == uniqueID) result.push_back(state);
  }
  return result;
}

std::vector<std::shared_ptr<SimulatedStreamState>> SimulatedCaptureBackend::streamStates(
    std::uint32_t displayID) {
  std::vector<std::shared_ptr<SimulatedStreamState>> result;
  for (const auto& weak : streams_) {
    if (auto state = weak.lock(); state && state->displayID() == displayID) {
      result.push_back(state);
    }
  }
  return result;
}

// --- Capture objects ---------------------------------------------------------

std::optional<NSError> SimulatedCaptureBackend::startMicrophone(
    const std::shared_ptr<SimulatedMicrophoneState>& state) {
  std::optional<SimulatedSignal> signal;
  {
    MutexLock lock(mutex_);
    if (state->isRunning()) return std::nullopt;
    if (auto error = take(failMicrophoneStart_)) return error;
    auto it = std::find_if(microphones_.begin(), microphones_.end(), [&](const Microphone& m) {
      return m.info.uniqueID == state->uniqueID();
    });
    if (it == microphones_.end()) {
      return makeCaptureError(CaptureErrorCode::deviceNotFound,
                              "The microphone " + state->uniqueID() + " is gone");
    }
    const auto requested = state->requested();
    requestedSettings_[state->uniqueID()] = requested;
    if (paced_ && it->signal) {
      signal = it->signal;
      if (it->followsRequest) {
        if (requested.sampleRate > 0) signal->sampleRate = requested.sampleRate;
        if (requested.numberOfChannels > 0) signal->channels = requested.numberOfChannels;
        signal->framesPerBuffer =
            std::max(1, static_cast<int>(std::lround(signal->sampleRate / 100)));
      }
    }
  }
  auto sink = state->beginRun();
  if (!sink || !signal) return std::nullopt;
  auto source = std::make_unique<PacedSource>();
  source->owner = state.get();
  source->targets = [sink = *sink] { return std::vector<SimulatedSink>{sink}; };
  source->audio.emplace(*signal);
  source->period = signal->framesPerBuffer / signal->sampleRate;
  schedule(std::move(source));
  return std::nullopt;
}

void SimulatedCaptureBackend::stopMicrophone(
    const std::shared_ptr<SimulatedMicrophoneState>& state) {
  unschedule(state.get());
  // Closing waits for a buffer being handled on another thread; after it no
  // buffer of this run reaches the consumer.
  if (auto gate = state->endRun()) gate->close();
}

void SimulatedCaptureBackend::closeMicrophone(const SimulatedMicrophoneState* state) {
  MutexLock lock(mutex_);
  std::erase_if(microphoneCaptures_, [&](const auto& weak) {
    auto current = weak.lock();
    return !current || current.get() == state;
  });
}

void SimulatedCaptureBackend::addStreamOutput(const std::shared_ptr<SimulatedStreamState>& state,
                                              DisplayOutputKind kind,
                                              std::shared_ptr<DispatchQueue> queue,
                                              SampleBufferHandler handler) {
  {
    MutexLock lock(mutex_);
    if (auto error = take(failAddOutput_)) throw *error;
  }
  if (!queue || !handler) {
    throw makeCaptureError(CaptureErrorCode::outputRejected,
                           "A stream output needs a queue and a handler");
  }
  state->addOutput(kind, std::move(queue), std::move(handler));
}

void SimulatedCaptureBackend::startStream(const std::shared_ptr<SimulatedStreamState>& state,
                                          CaptureCompletion completion) {
  std::optional<NSError> result;
  std::optional<SimulatedSignal> signal;
  bool hold;
  {
    MutexLock lock(mutex_);
    hold = holdStart_;
    if (auto error = take(failStreamStart_)) {
      result = std::move(error);
    } else {
      auto it = std::find_if(displays_.begin(), displays_.end(),
                             [&](const Display& d) { return d.displayID == state->displayID(); });
      if (it == displays_.end()) {
        result = makeCaptureError(CaptureErrorCode::deviceNotFound,
                                  "No display with the id " + std::to_string(state->displayID()));
      } else if (paced_) {
        signal = it->signal;
      }
    }
  }
  if (!result) {
    // Capture begins now, before the completion is reported (or released).
    if (auto gate = state->beginRun(); gate && signal) {
      const auto& settings = state->settings();
      if (settings.capturesAudio) {
        auto audio = std::make_unique<PacedSource>();
        audio->owner = state.get();
        audio->targets = [state, gate] { return state->sinks(DisplayOutputKind::audio, gate); };
        audio->audio.emplace(*signal);
        audio->period = signal->framesPerBuffer / signal->sampleRate;
        schedule(std::move(audio));
      }
      auto screen = std::make_unique<PacedSource>();
      screen->owner = state.get();
      screen->targets = [state, gate] { return state->sinks(DisplayOutputKind::screen, gate); };
      screen->period = std::max(settings.minimumFrameIntervalSeconds, kScreenFrameInterval);
      schedule(std::move(screen));
    }
  }
  if (hold) {
    MutexLock lock(mutex_);
    heldStarts_.push_back({std::move(completion), std::move(result)});
    return;
  }
  callSafely(completion, std::move(result));
}

void SimulatedCaptureBackend::stopStream(const std::shared_ptr<SimulatedStreamState>& state,
                                         CaptureCompletion completion) {
  std::optional<NSError> result;
  bool hold;
  {
    MutexLock lock(mutex_);
    hold = holdStop_;
    result = take(failStreamStop_);
  }
  if (!result) {
    unschedule(state.get());
    if (auto gate = state->endRun()) gate->close();
  }
  if (hold) {
    MutexLock lock(mutex_);
    heldStops_.push_back({std::move(completion), std::move(result)});
    return;
  }
  callSafely(completion, std::move(result));
}

void SimulatedCaptureBackend::closeStream(const std::shared_ptr<SimulatedStreamState>& state) {
  unschedule(state.get());
  if (auto gate = state->endRun()) gate->close();
  state->close();
  MutexLock lock(mutex_);
  std::erase_if(streams_, [&](const auto& weak) {
    auto current = weak.lock();
    return !current || current == state;
  });
}

// --- Pacer -------------------------------------------------------------------

void SimulatedCaptureBackend::schedule(std::unique_ptr<PacedSource> source) {
  source->start = Clock::now();
  MutexLock lock(mutex_);
  if (pacerStopping_) return;
  pacedSources_.push_back(std::move(source));
  // The pacer owns no reference to the backend: the destructor joins it.
  if (!pacer_.joinable()) pacer_ = std::thread([this] { runPacer(); });
  pacerWake_.notify_all();
}

void SimulatedCaptureBackend::unschedule(const void* owner) {
  MutexLock lock(mutex_);
  std::erase_if(pacedSources_, [&](const auto& source) { return source->owner == owner; });
}

void SimulatedCaptureBackend::runPacer() {
  struct Due {
    std::function<std::vector<SimulatedSink>()> targets;
    CMSampleBufferRef buffer;
  };
  MutexLock lock(mutex_);
  while (!pacerStopping_) {
    if (pacedSources_.empty()) {
      pacerWake_.wait(lock);
      continue;
    }
    auto next = pacedSources_.front()->deadline();
    for (const auto& source : pacedSources_) next = std::min(next, source->deadline());
    if (Clock::now() < next) {
      pacerWake_.wait_until(lock, next);
      continue;
    }
    std::vector<Due> due;
    const auto now = Clock::now();
    for (auto& source : pacedSources_) {
      // After a stall (a suspended machine, a stopped debugger) start afresh
      // rather than burst out every missed buffer at once.
      if (now - source->deadline() > std::chrono::seconds(1)) {
        source->start = now;
        source->count = 0;
      }
      if (source->deadline() <= now) due.push_back({source->targets, source->produce()});
    }
    // Handed over without our lock: posting takes the queues' locks, and the
    // targets take the capture states' locks.
    lock.unlock();
    for (auto& item : due) {
      for (const auto& sink : item.targets()) sink.deliverAsync(item.buffer);
    }
    lock.lock();
  }
}

}  // namespace harkwell
