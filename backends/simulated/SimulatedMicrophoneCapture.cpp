#include "backends/simulated/SimulatedMicrophoneCapture.h"

#include <utility>

#include "backends/simulated/SimulatedCaptureBackend.h"

namespace harkwell {

void SimulatedMicrophoneState::setOutput(AudioOutputSettings requested,
                                         std::shared_ptr<DispatchQueue> queue,
                                         SampleBufferHandler handler) {
  MutexLock lock(mutex_);
  requested_ = requested;
  queue_ = std::move(queue);
  handler_ = std::move(handler);
}

AudioOutputSettings SimulatedMicrophoneState::requested() const {
  MutexLock lock(mutex_);
  return requested_;
}

void SimulatedMicrophoneState::setStopped(StreamStoppedHandler stopped) {
  MutexLock lock(mutex_);
  stopped_ = std::move(stopped);
}

StreamStoppedHandler SimulatedMicrophoneState::stopped() const {
  MutexLock lock(mutex_);
  return stopped_;
}

std::optional<SimulatedSink> SimulatedMicrophoneState::beginRun() {
  MutexLock lock(mutex_);
  if (run_) return std::nullopt;
  run_ = SimulatedSink{queue_, handler_, std::make_shared<CallbackGate>()};
  return run_;
}

std::shared_ptr<CallbackGate> SimulatedMicrophoneState::endRun() {
  MutexLock lock(mutex_);
  if (!run_) return nullptr;
  auto gate = std::move(run_->gate);
  run_.reset();
  return gate;
}

bool SimulatedMicrophoneState::isRunning() const {
  MutexLock lock(mutex_);
  return run_.has_value();
}

std::optional<SimulatedSink> SimulatedMicrophoneState::currentSink() const {
  MutexLock lock(mutex_);
  return run_;
}

SimulatedMicrophoneCapture::SimulatedMicrophoneCapture(
    std::shared_ptr<SimulatedCaptureBackend> backend,
    std::shared_ptr<SimulatedMicrophoneState> state)
    : backend_(std::move(backend)), state_(std::move(state)) {}

SimulatedMicrophoneCapture::~SimulatedMicrophoneCapture() {
  backend_->stopMicrophone(state_);
  backend_->closeMicrophone(state_.get());
}

void SimulatedMicrophoneCapture::setOutput(AudioOutputSettings requested,
                                           std::shared_ptr<DispatchQueue> queue,
                                           SampleBufferHandler handler) {
  state_->setOutput(requested, std::move(queue), std::move(handler));
}

void SimulatedMicrophoneCapture::setStoppedHandler(StreamStoppedHandler stopped) {
  state_->setStopped(std::move(stopped));
}

std::optional<NSError> SimulatedMicrophoneCapture::startRunning() {
  return backend_->startMicrophone(state_);
}

void SimulatedMicrophoneCapture::stopRunning() {
  backend_->stopMicrophone(state_);
}

bool SimulatedMicrophoneCapture::isRunning() const {
  return state_->isRunning();
}

}  // namespace harkwell
