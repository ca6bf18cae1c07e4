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

std::shared_ptr<SimulatedCaptureBackend> SimulatedCaptureBackend::makePaced() {
  auto backend = std::shared_ptr<SimulatedCaptureBackend>(new SimulatedCaptureBackend());
  backend->addPacedDevices();
  return backend;
}

void SimulatedCaptureBackend::addPacedDevices() {
  SimulatedSignal microphone;  // follows the request: rate, channels and 10 ms buffers
  microphone.sampleRate = 16000;
  microphone.framesPerBuffer = 160;
  microphone.frequency = 440;
  addMicrophone({kMicrophoneID, kMicrophoneName}, microphone, true);

  SimulatedSignal headset;
  headset.format = SimulatedSampleFormat::int16;
  headset.sampleRate = 44100;
  headset.channels = 2;
  headset.interleaved = true;
  headset.framesPerBuffer = 512;
  headset.frequency = 660;
  addMicrophone({kHeadsetID, kHeadsetName}, headset);

  SimulatedSignal display;
  display.sampleRate = 48000;
  display.channels = 2;
  display.framesPerBuffer = 1024;
  display.frequency = 1000;
  addDisplay(kDisplayID, display);
}

SimulatedCaptureBackend::SimulatedCaptureBackend() = default;

SimulatedCaptureBackend::~SimulatedCaptureBackend() {
  std::thread pacer;
  {
    MutexLock lock(mutex_);
    pacerStopping_ = true;
    pacer = std::move(pacer_);
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
}

// --- CaptureBackend ----------------------------------------------------------

OperatingSystemVersion SimulatedCaptureBackend::operatingSystemVersion() {
  return {14, 0, 0};
}

std::vector<MicrophoneInfo> SimulatedCaptureBackend::microphones(const std::string&) {
  MutexLock lock(mutex_);
  std::vector<MicrophoneInfo> result;
  for (const auto& microphone : microphones_) result.push_back(microphone.info);
  return result;
}

CaptureAuthorizationStatus SimulatedCaptureBackend::microphoneAuthorizationStatus() {
  return CaptureAuthorizationStatus::authorized;
}

void SimulatedCaptureBackend::requestMicrophoneAccess(std::function<void(bool)> completion) {
  if (completion) completion(true);
}

std::unique_ptr<MicrophoneCapture> SimulatedCaptureBackend::openMicrophone(
    const std::string& uniqueID) {
  if (auto error = injectedFailure(Step::microphoneOpen)) throw *error;
  {
    MutexLock lock(mutex_);
    if (std::none_of(microphones_.begin(), microphones_.end(),
                     [&](const Microphone& m) { return m.info.uniqueID == uniqueID; })) {
      throw makeCaptureError(CaptureErrorCode::deviceNotFound,
                             "No microphone with the id " + uniqueID);
    }
  }
  auto state = std::make_shared<SimulatedMicrophoneState>(uniqueID);
  opened(state);
  return std::make_unique<SimulatedMicrophoneCapture>(shared_from_this(), std::move(state));
}

void SimulatedCaptureBackend::getShareableContent(
    std::function<void(ShareableContentAnswer)> completion) {
  ShareableContentAnswer answer;
  {
    MutexLock lock(mutex_);
    for (const auto& display : displays_) answer.displays.push_back({display.displayID});
  }
  if (completion) completion(std::move(answer));
}

std::unique_ptr<DisplayStream> SimulatedCaptureBackend::openDisplayStream(
    std::uint32_t displayID, DisplayStreamSettings settings, StreamStoppedHandler stopped) {
  auto state = std::make_shared<SimulatedStreamState>(displayID, settings, std::move(stopped));
  opened(state);
  return std::make_unique<SimulatedDisplayStream>(shared_from_this(), std::move(state));
}

// --- Devices -----------------------------------------------------------------

void SimulatedCaptureBackend::addMicrophone(MicrophoneInfo info,
                                            std::optional<SimulatedSignal> signal,
                                            bool followsRequest) {
  MutexLock lock(mutex_);
  microphones_.push_back({std::move(info), signal, followsRequest});
}

void SimulatedCaptureBackend::addDisplay(std::uint32_t displayID,
                                         std::optional<SimulatedSignal> signal) {
  MutexLock lock(mutex_);
  displays_.push_back({displayID, signal});
}

void SimulatedCaptureBackend::forgetMicrophone(const std::string& uniqueID) {
  MutexLock lock(mutex_);
  std::erase_if(microphones_, [&](const Microphone& m) { return m.info.uniqueID == uniqueID; });
}

void SimulatedCaptureBackend::forgetDisplay(std::uint32_t displayID) {
  MutexLock lock(mutex_);
  std::erase_if(displays_, [&](const Display& d) { return d.displayID == displayID; });
}

// --- Capture objects ---------------------------------------------------------

std::optional<NSError> SimulatedCaptureBackend::startMicrophone(
    const std::shared_ptr<SimulatedMicrophoneState>& state) {
  std::optional<SimulatedSignal> signal;
  {
    MutexLock lock(mutex_);
    if (state->isRunning()) return std::nullopt;
    auto it = std::find_if(microphones_.begin(), microphones_.end(), [&](const Microphone& m) {
      return m.info.uniqueID == state->uniqueID();
    });
    if (it == microphones_.end()) {
      return makeCaptureError(CaptureErrorCode::deviceNotFound,
                              "The microphone " + state->uniqueID() + " is gone");
    }
    signal = it->signal;
    if (signal && it->followsRequest) {
      const auto requested = state->requested();
      if (requested.sampleRate > 0) signal->sampleRate = requested.sampleRate;
      if (requested.numberOfChannels > 0) signal->channels = requested.numberOfChannels;
      signal->framesPerBuffer =
          std::max(1, static_cast<int>(std::lround(signal->sampleRate / 100)));
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
  // After this no buffer of the run reaches the consumer.
  endRun(*state);
}

void SimulatedCaptureBackend::closeMicrophone(const SimulatedMicrophoneState* state) {
  closed(state);
}

void SimulatedCaptureBackend::addStreamOutput(const std::shared_ptr<SimulatedStreamState>& state,
                                              DisplayOutputKind kind,
                                              std::shared_ptr<DispatchQueue> queue,
                                              SampleBufferHandler handler) {
  if (auto error = injectedFailure(Step::addOutput)) throw *error;
  if (!queue || !handler) {
    throw makeCaptureError(CaptureErrorCode::outputRejected,
                           "A stream output needs a queue and a handler");
  }
  state->addOutput(kind, std::move(queue), std::move(handler));
}

void SimulatedCaptureBackend::startStream(const std::shared_ptr<SimulatedStreamState>& state,
                                          CaptureCompletion completion) {
  std::optional<NSError> result = injectedFailure(Step::streamStart);
  std::optional<SimulatedSignal> signal;
  if (!result) {
    MutexLock lock(mutex_);
    auto it = std::find_if(displays_.begin(), displays_.end(),
                           [&](const Display& d) { return d.displayID == state->displayID(); });
    if (it == displays_.end()) {
      result = makeCaptureError(CaptureErrorCode::deviceNotFound,
                                "No display with the id " + std::to_string(state->displayID()));
    } else {
      signal = it->signal;
    }
  }
  // Capture begins now, before the completion is reported.
  if (!result) {
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
  complete(Step::streamStart, std::move(completion), std::move(result));
}

void SimulatedCaptureBackend::stopStream(const std::shared_ptr<SimulatedStreamState>& state,
                                         CaptureCompletion completion) {
  auto result = injectedFailure(Step::streamStop);
  if (!result) endRun(*state);
  complete(Step::streamStop, std::move(completion), std::move(result));
}

void SimulatedCaptureBackend::closeStream(const std::shared_ptr<SimulatedStreamState>& state) {
  endRun(*state);
  state->close();
  closed(state.get());
}

void SimulatedCaptureBackend::complete(Step, CaptureCompletion completion,
                                       std::optional<NSError> result) {
  if (!completion) return;
  // Completions are consumer code run from our threads: nothing may escape.
  try {
    completion(std::move(result));
  } catch (...) {
  }
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
