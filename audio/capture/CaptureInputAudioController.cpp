#include "audio/capture/CaptureInputAudioController.h"

#include <exception>
#include <optional>
#include <stdexcept>
#include <utility>

#include "audio/capture/AudioDataEvent.h"
#include "platform/avfoundation/AVFoundationTypes.h"
#include "platform/coremedia/AudioStreamBasicDescription.h"
#include "platform/dispatch/LogLine.h"

namespace harkwell {

namespace {

constexpr const char* queueLabelPrefix = "input-audio-";
constexpr int requestedChannels = 1;
constexpr int requestedSampleRate = 16000;  // Hz

std::shared_ptr<BridgeFlutterApiProtocol> required(
    std::shared_ptr<BridgeFlutterApiProtocol> flutterApi) {
  if (!flutterApi) throw std::invalid_argument("A capture controller needs an event sender");
  return flutterApi;
}

}  // namespace

CaptureInputAudioController::CaptureInputAudioController(
    std::string id, const AVCaptureDevice& device,
    std::shared_ptr<BridgeFlutterApiProtocol> flutterApi)
    : id_(std::move(id)),
      queue_(DispatchQueue::makeSerial(queueLabelPrefix + id_)),
      captureDevice_(device),
      // Opening the device is what fails for a microphone that is gone or busy;
      // the members made so far are released as the exception leaves.
      captureInput_(std::make_shared<AVCaptureDeviceInput>(captureDevice_)),
      captureOutput_(std::make_shared<AVCaptureAudioDataOutput>()),
      captureSession_(std::make_unique<AVCaptureSession>()),
      audioEvent_(id_, AudioDeviceType::input),
      flutterApi_(required(std::move(flutterApi))) {
  // The output holds `this` raw: the destructor clears it, which waits out a
  // callback in progress, before any member goes away.
  captureOutput_->setSampleBufferDelegate(this, queue_);
  captureOutput_->setAudioSettings({
      {AVFormatIDKey, kAudioFormatLinearPCM},
      {AVNumberOfChannelsKey, requestedChannels},
      {AVSampleRateKey, requestedSampleRate},
  });

  captureSession_->beginConfiguration();
  try {
    captureSession_->addInput(captureInput_);
    captureSession_->addOutput(captureOutput_);
  } catch (...) {
    captureSession_->commitConfiguration();
    captureOutput_->setSampleBufferDelegate(nullptr, nullptr);
    throw;
  }
  captureSession_->commitConfiguration();
  // Like the output, the session reaches `this` only until it stops, which the
  // destructor makes it do before any member goes away.
  captureSession_->setRuntimeErrorHandler([this](const NSError& error) { sessionEnded(error); });

  // Already running when the registry calls start(), which then changes nothing.
  captureSession_->startRunning();
}

CaptureInputAudioController::~CaptureInputAudioController() {
  // Clearing the delegate first: once it returns no buffer reaches this
  // controller, even one that a session which stopped by itself still had queued.
  captureOutput_->setSampleBufferDelegate(nullptr, nullptr);
  captureSession_->stopRunning();
}

std::shared_ptr<CaptureInputAudioController> CaptureInputAudioController::create(
    std::string id, const AVCaptureDevice& device,
    std::shared_ptr<BridgeFlutterApiProtocol> flutterApi) {
  return std::make_shared<CaptureInputAudioController>(std::move(id), device,
                                                       std::move(flutterApi));
}

bool CaptureInputAudioController::isRunning() const {
  return captureSession_->isRunning();
}

void CaptureInputAudioController::start() {
  captureSession_->startRunning();
}

void CaptureInputAudioController::stop() {
  // Unconditional: a session that stopped by itself may still have a buffer
  // being handled, which this waits out.
  captureSession_->stopRunning();
}

bool CaptureInputAudioController::startWasSent() {
  bool sent = false;
  queue_->sync([&] {
    audioSequence_.assertIsCurrent();
    sent = startSent_;
  });
  return sent;
}

void CaptureInputAudioController::announceStart() {
  // Behind every buffer already queued: deviceStart can neither overtake nor
  // follow the capture's first audio.
  queue_->sync([this] {
    audioSequence_.assertIsCurrent();
    sendStartOnce();
  });
}

void CaptureInputAudioController::setEndedHandler(EndedHandler handler) {
  MutexLock lock(endedMutex_);
  ended_ = std::move(handler);
}

void CaptureInputAudioController::sendStartOnce() {
  if (startSent_) return;
  startSent_ = true;
  flutterApi_->onEvent(
      NativeAudioEvent{id_, AudioDeviceType::input, NativeAudioEventType::deviceStart, std::nullopt,
                       std::nullopt},
      {});
}

void CaptureInputAudioController::sessionEnded(const NSError& error) {
  EndedHandler ended;
  {
    MutexLock lock(endedMutex_);
    ended = std::exchange(ended_, nullptr);
  }
  if (ended) ended(error.localizedDescription());
}

void CaptureInputAudioController::captureOutput(AVCaptureAudioDataOutput&,
                                                CMSampleBufferRef sampleBuffer,
                                                AVCaptureConnection&) {
  audioSequence_.assertIsCurrent();
  // Runs on the capture queue: nothing may escape into the dispatch machinery.
  try {
    converter_.convert(sampleBuffer, samples_);
    if (samples_.empty()) return;
    sendStartOnce();
    // The outcome of a delivery is never looked at, so no completion is passed.
    flutterApi_->sendEvent(audioEvent_.withSamples(samples_), {});
  } catch (const std::exception& error) {
    writeDiagnostic("input-audio-" + id_ + ": block dropped: " + error.what());
  }
}

}  // namespace harkwell
