#include "audio/capture/CaptureStreamAudioController.h"

#include <exception>
#include <optional>
#include <stdexcept>
#include <utility>

#include "audio/capture/AudioDataEvent.h"
#include "audio/capture/HostLog.h"
#include "platform/coremedia/CMTime.h"
#include "platform/dispatch/LogLine.h"
#include "platform/screencapturekit/SCContentFilter.h"

namespace harkwell {

namespace {

constexpr const char* audioQueueLabelPrefix = "stream-audio-";
constexpr const char* videoQueueLabelPrefix = "stream-video-";
constexpr CMTime minimumFrameInterval = CMTimeMake(1, 30);

std::shared_ptr<BridgeFlutterApiProtocol> required(
    std::shared_ptr<BridgeFlutterApiProtocol> flutterApi) {
  if (!flutterApi) throw std::invalid_argument("A capture controller needs an event sender");
  return flutterApi;
}

}  // namespace

CaptureStreamAudioController::CaptureStreamAudioController(
    std::string id, const SCDisplay& display, std::shared_ptr<BridgeFlutterApiProtocol> flutterApi)
    : id_(std::move(id)),
      audioQueue_(DispatchQueue::makeSerial(audioQueueLabelPrefix + id_)),
      videoQueue_(DispatchQueue::makeSerial(videoQueueLabelPrefix + id_)),
      display_(display),
      lifecycle_(std::make_shared<Lifecycle>()),
      audioEvent_(id_, AudioDeviceType::output),
      flutterApi_(required(std::move(flutterApi))) {
  config_.setCapturesAudio(true);
  config_.setMinimumFrameInterval(minimumFrameInterval);

  stream_ = std::make_unique<SCStream>(SCContentFilter(display_, {}), config_, this);
  // A failure here leaves the stream to the member destructors, which close it
  // before the queues and the rest of this object go.
  stream_->addStreamOutput(this, SCStreamOutputType::audio, audioQueue_);
  stream_->addStreamOutput(this, SCStreamOutputType::screen, videoQueue_);
}

CaptureStreamAudioController::~CaptureStreamAudioController() {
  // stop() is what releases a capture; a controller dropped without it (its
  // registry went away) still must not leave the stream capturing.
  if (stream_) stop();
}

std::shared_ptr<CaptureStreamAudioController> CaptureStreamAudioController::create(
    std::string id, const SCDisplay& display,
    std::shared_ptr<BridgeFlutterApiProtocol> flutterApi) {
  return std::make_shared<CaptureStreamAudioController>(std::move(id), display,
                                                        std::move(flutterApi));
}

bool CaptureStreamAudioController::isRunning() const {
  MutexLock lock(lifecycle_->mutex);
  return lifecycle_->phase == Phase::starting || lifecycle_->phase == Phase::running;
}

void CaptureStreamAudioController::setEndedHandler(EndedHandler handler) {
  MutexLock lock(lifecycle_->mutex);
  lifecycle_->ended = std::move(handler);
}

void CaptureStreamAudioController::start() {
  std::uint64_t generation = 0;
  {
    MutexLock lock(lifecycle_->mutex);
    if (!stream_ || lifecycle_->phase != Phase::idle) return;
    // Marked before asking: the completion may run inside startCapture.
    lifecycle_->phase = Phase::starting;
    generation = ++lifecycle_->generation;
  }
  stream_->startCapture([weakLifecycle = std::weak_ptr<Lifecycle>(lifecycle_),
                         generation](std::optional<NSError> error) {
    if (error) {
      HostLog::writeLine("stream start failed Optional(" + error->debugDescription() + ")");
      if (auto lifecycle = weakLifecycle.lock()) end(lifecycle, generation, *error);
      return;
    }
    HostLog::writeLine("stream start");
    auto lifecycle = weakLifecycle.lock();
    if (!lifecycle) return;
    MutexLock lock(lifecycle->mutex);
    if (lifecycle->generation == generation && lifecycle->phase == Phase::starting) {
      lifecycle->phase = Phase::running;
    }
  });
}

void CaptureStreamAudioController::stop() {
  bool askPlatform = false;
  {
    MutexLock lock(lifecycle_->mutex);
    askPlatform = lifecycle_->phase == Phase::starting || lifecycle_->phase == Phase::running;
    lifecycle_->phase = Phase::stopped;
    // Whatever the platform still answers about earlier requests is stale now.
    ++lifecycle_->generation;
  }
  if (!stream_) return;
  if (askPlatform) {
    try {
      // The answer only logs: the stream is torn down below either way.
      stream_->stopCapture([](std::optional<NSError>) { HostLog::writeLine("stream stop"); });
    } catch (const std::exception& error) {
      writeDiagnostic("stream-audio-" + id_ + ": stop failed: " + error.what());
    }
  }
  // Destroying the stream stops a capture that is still running (a stop the
  // platform refused), waits for output and delegate calls in progress on other
  // threads and lets none start: after this no audio of this capture is sent.
  stream_.reset();
}

bool CaptureStreamAudioController::startWasSent() {
  bool sent = false;
  audioQueue_->sync([&] {
    audioSequence_.assertIsCurrent();
    sent = startSent_;
  });
  return sent;
}

void CaptureStreamAudioController::announceStart() {
  // On the audio queue, behind every block already queued there: deviceStart
  // can neither overtake nor follow the capture's first audio.
  audioQueue_->sync([this] {
    audioSequence_.assertIsCurrent();
    sendStartOnce();
  });
}

void CaptureStreamAudioController::sendStartOnce() {
  if (startSent_) return;
  startSent_ = true;
  flutterApi_->onEvent(
      NativeAudioEvent{id_, AudioDeviceType::output, NativeAudioEventType::deviceStart,
                       std::nullopt, std::nullopt},
      {});
}

void CaptureStreamAudioController::end(const std::shared_ptr<Lifecycle>& lifecycle,
                                       std::uint64_t generation, const NSError& error) {
  EndedHandler ended;
  {
    MutexLock lock(lifecycle->mutex);
    if (lifecycle->generation != generation) return;
    if (lifecycle->phase != Phase::starting && lifecycle->phase != Phase::running) return;
    lifecycle->phase = Phase::ended;
    ended = lifecycle->ended;
  }
  if (ended) ended(error.localizedDescription());
}

void CaptureStreamAudioController::stream(SCStream&, CMSampleBufferRef sampleBuffer,
                                          SCStreamOutputType type) {
  if (!CMSampleBufferIsValid(sampleBuffer)) return;
  if (type != SCStreamOutputType::audio) return;
  audioSequence_.assertIsCurrent();
  // Runs on the audio queue: nothing may escape into the dispatch machinery.
  // Audio that arrives before the start is confirmed is sent like any other,
  // after deviceStart.
  try {
    converter_.convert(sampleBuffer, samples_);
    if (samples_.empty()) return;
    sendStartOnce();
    // The outcome of a delivery is never looked at, so no completion is passed.
    flutterApi_->sendEvent(audioEvent_.withSamples(samples_), {});
  } catch (const std::exception& error) {
    writeDiagnostic("stream-audio-" + id_ + ": block dropped: " + error.what());
  }
}

void CaptureStreamAudioController::streamDidStopWithError(SCStream&, const NSError& error) {
  std::uint64_t generation = 0;
  {
    MutexLock lock(lifecycle_->mutex);
    generation = lifecycle_->generation;
  }
  end(lifecycle_, generation, error);
}

}  // namespace harkwell
