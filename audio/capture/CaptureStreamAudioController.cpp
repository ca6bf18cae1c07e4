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
      state_(std::make_shared<CaptureState>()),
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
  // A start that is still pending counts: its stream would otherwise capture on
  // with nobody left to stop it. The completion may run after this object is
  // gone, so it holds nothing of it.
  // A stop already under way is not asked for twice.
  if (state_->startRequested.load() && !state_->stopRequested.load()) {
    try {
      stream_->stopCapture([](std::optional<NSError>) { HostLog::writeLine("stream stop"); });
    } catch (const std::exception& error) {
      writeDiagnostic("stream-audio-" + id_ + ": stop on release failed: " + error.what());
    }
  }
  // First, while every member is still alive: waits for output and delegate
  // calls in progress on other threads and lets none start.
  stream_.reset();
}

std::shared_ptr<CaptureStreamAudioController> CaptureStreamAudioController::create(
    std::string id, const SCDisplay& display,
    std::shared_ptr<BridgeFlutterApiProtocol> flutterApi) {
  return std::make_shared<CaptureStreamAudioController>(std::move(id), display,
                                                        std::move(flutterApi));
}

bool CaptureStreamAudioController::isRunning() const {
  return state_->running.load();
}

void CaptureStreamAudioController::start() {
  // Marked before asking: the completion may run inside startCapture.
  state_->startRequested.store(true);
  state_->stopRequested.store(false);
  stream_->startCapture(
      [weakState = std::weak_ptr<CaptureState>(state_)](std::optional<NSError> error) {
        auto state = weakState.lock();
        if (error) {
          HostLog::writeLine("stream start failed Optional(" + error->debugDescription() + ")");
          // A start refused while an earlier one still runs leaves that one to stop.
          if (state && !state->running.load()) state->startRequested.store(false);
          return;
        }
        HostLog::writeLine("stream start");
        if (state) state->running.store(true);
      });
}

void CaptureStreamAudioController::stop() {
  if (!state_->running.load()) return;
  state_->stopRequested.store(true);
  stream_->stopCapture(
      [weakState = std::weak_ptr<CaptureState>(state_)](std::optional<NSError> error) {
        HostLog::writeLine("stream stop");
        auto state = weakState.lock();
        if (!state) return;
        // A failed stop leaves the stream capturing: still running, and still
        // to be stopped on release.
        if (error) {
          state->stopRequested.store(false);
          return;
        }
        state->running.store(false);
        state->startRequested.store(false);
      });
}

void CaptureStreamAudioController::stream(SCStream&, CMSampleBufferRef sampleBuffer,
                                          SCStreamOutputType type) {
  if (!CMSampleBufferIsValid(sampleBuffer)) return;
  if (type != SCStreamOutputType::audio) return;
  // Runs on the audio queue: nothing may escape into the dispatch machinery.
  // Audio that arrives before the start is confirmed is sent like any other.
  try {
    converter_.convert(sampleBuffer, samples_);
    if (samples_.empty()) return;
    // The outcome of a delivery is never looked at, so no completion is passed.
    flutterApi_->sendEvent(audioEvent_.withSamples(samples_), {});
  } catch (const std::exception& error) {
    writeDiagnostic("stream-audio-" + id_ + ": block dropped: " + error.what());
  }
}

void CaptureStreamAudioController::streamDidStopWithError(SCStream&, const NSError&) {
  state_->running.store(false);
  state_->startRequested.store(false);
}

}  // namespace harkwell
