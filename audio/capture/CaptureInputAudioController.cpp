#include "audio/capture/CaptureInputAudioController.h"

#include <exception>
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

  // Already running when the registry calls start(), which then changes nothing.
  captureSession_->startRunning();
}

CaptureInputAudioController::~CaptureInputAudioController() {
  // Clearing the delegate first: once it returns no buffer reaches this
  // controller, even one that a session which stopped by itself still had queued.
  captureOutput_->setSampleBufferDelegate(nullptr, nullptr);
  if (captureSession_->isRunning()) captureSession_->stopRunning();
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
  if (captureSession_->isRunning()) captureSession_->stopRunning();
}

void CaptureInputAudioController::captureOutput(AVCaptureAudioDataOutput&,
                                                CMSampleBufferRef sampleBuffer,
                                                AVCaptureConnection&) {
  // Runs on the capture queue: nothing may escape into the dispatch machinery.
  try {
    converter_.convert(sampleBuffer, samples_);
    if (samples_.empty()) return;
    // The outcome of a delivery is never looked at, so no completion is passed.
    flutterApi_->sendEvent(audioEvent_.withSamples(samples_), {});
  } catch (const std::exception& error) {
    writeDiagnostic("input-audio-" + id_ + ": block dropped: " + error.what());
  }
}

}  // namespace harkwell
