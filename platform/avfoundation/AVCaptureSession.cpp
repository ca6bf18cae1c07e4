#include "platform/avfoundation/AVCaptureSession.h"

#include <cstdint>
#include <utility>

#include "platform/avfoundation/AVFoundationTypes.h"
#include "platform/capture/CaptureTypes.h"
#include "platform/dispatch/LogLine.h"

namespace {

harkwell::AudioOutputSettings requestedFormat(const AVAudioSettings& settings) {
  harkwell::AudioOutputSettings requested;
  if (auto it = settings.find(AVFormatIDKey); it != settings.end()) {
    requested.formatID = static_cast<std::uint32_t>(it->second.longLongValue());
  }
  if (auto it = settings.find(AVNumberOfChannelsKey); it != settings.end()) {
    const auto channels = it->second.longLongValue();
    requested.numberOfChannels = channels > 0 && channels <= 64 ? static_cast<int>(channels) : 0;
  }
  if (auto it = settings.find(AVSampleRateKey); it != settings.end()) {
    const double rate = it->second.doubleValue();
    requested.sampleRate = rate > 0 && rate <= 1'000'000 ? rate : 0;
  }
  return requested;
}

}  // namespace

AVCaptureSession::AVCaptureSession() : gate_(std::make_shared<harkwell::CallbackGate>(false)) {}

AVCaptureSession::~AVCaptureSession() {
  stopRunning();
}

void AVCaptureSession::beginConfiguration() {
  MutexLock lock(mutex_);
  ++configurationDepth_;
}

void AVCaptureSession::commitConfiguration() {
  MutexLock lock(mutex_);
  if (configurationDepth_ > 0) --configurationDepth_;
}

bool AVCaptureSession::canAddInput(const std::shared_ptr<AVCaptureDeviceInput>& input) const {
  MutexLock lock(mutex_);
  return input && !input_;
}

bool AVCaptureSession::canAddOutput(const std::shared_ptr<AVCaptureAudioDataOutput>& output) const {
  MutexLock lock(mutex_);
  return output && !output_;
}

void AVCaptureSession::addInput(std::shared_ptr<AVCaptureDeviceInput> input) {
  MutexLock lock(mutex_);
  if (!input || input_) {
    throw harkwell::makeCaptureError(harkwell::CaptureErrorCode::outputRejected,
                                     "The session cannot add this input");
  }
  input_ = std::move(input);
}

void AVCaptureSession::addOutput(std::shared_ptr<AVCaptureAudioDataOutput> output) {
  MutexLock lock(mutex_);
  if (!output || output_) {
    throw harkwell::makeCaptureError(harkwell::CaptureErrorCode::outputRejected,
                                     "The session cannot add this output");
  }
  output_ = std::move(output);
}

void AVCaptureSession::startRunning() {
  std::shared_ptr<AVCaptureDeviceInput> input;
  std::shared_ptr<AVCaptureAudioDataOutput> output;
  std::shared_ptr<AVCaptureConnection> connection;
  std::function<void(const NSError&)> runtimeError;
  {
    MutexLock lock(mutex_);
    if (!input_) return;
    runtimeError = runtimeErrorHandler_;
    if (output_ && !connection_) connection_ = std::make_shared<AVCaptureConnection>();
    input = input_;
    output = output_;
    connection = connection_;
  }
  // The capture starts without our lock held: it blocks until the device runs,
  // and isRunning() from other threads must not wait for that.
  auto& capture = input->capture();
  if (capture.isRunning()) return;
  if (output) {
    std::weak_ptr<AVCaptureAudioDataOutput> weakOutput = output;
    capture.setOutput(requestedFormat(output->audioSettings()), output->sampleBufferCallbackQueue(),
                      [gate = gate_, weakOutput, connection](CMSampleBufferRef sampleBuffer) {
                        gate->run([&] {
                          if (auto target = weakOutput.lock())
                            target->deliver(sampleBuffer, *connection);
                        });
                      });
  } else {
    capture.setOutput(requestedFormat({}), nullptr, nullptr);
  }
  // Through the same gate as the buffers: a stop or the destructor waits out a
  // report in progress, and none starts after it.
  capture.setStoppedHandler([gate = gate_, runtimeError](NSError error) {
    gate->run([&] {
      if (runtimeError) runtimeError(error);
    });
  });
  gate_->open();
  if (auto error = capture.startRunning()) {
    gate_->close();
    harkwell::writeDiagnostic("AVCaptureSession: " + error->debugDescription());
  }
}

void AVCaptureSession::setRuntimeErrorHandler(std::function<void(const NSError&)> handler) {
  MutexLock lock(mutex_);
  runtimeErrorHandler_ = std::move(handler);
}

void AVCaptureSession::stopRunning() {
  std::shared_ptr<AVCaptureDeviceInput> input;
  {
    MutexLock lock(mutex_);
    input = input_;
  }
  // Closing waits for a delivery in progress elsewhere; done without our lock so
  // that a delegate calling isRunning() cannot deadlock against it.
  gate_->close();
  if (input) input->capture().stopRunning();
}

bool AVCaptureSession::isRunning() const {
  std::shared_ptr<AVCaptureDeviceInput> input;
  {
    MutexLock lock(mutex_);
    input = input_;
  }
  return input && input->capture().isRunning();
}
