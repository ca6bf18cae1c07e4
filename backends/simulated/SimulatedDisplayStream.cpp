#include "backends/simulated/SimulatedDisplayStream.h"

#include <utility>

#include "backends/simulated/SimulatedCaptureBackend.h"

namespace harkwell {

SimulatedStreamState::SimulatedStreamState(std::uint32_t displayID, DisplayStreamSettings settings,
                                           StreamStoppedHandler stopped)
    : displayID_(displayID),
      settings_(settings),
      stopped_(std::move(stopped)),
      lifeGate_(std::make_shared<CallbackGate>()) {}

void SimulatedStreamState::addOutput(DisplayOutputKind kind, std::shared_ptr<DispatchQueue> queue,
                                     SampleBufferHandler handler) {
  MutexLock lock(mutex_);
  outputs_.push_back({kind, std::move(queue), std::move(handler)});
}

std::shared_ptr<CallbackGate> SimulatedStreamState::beginRun() {
  MutexLock lock(mutex_);
  if (runGate_) return nullptr;
  runGate_ = std::make_shared<CallbackGate>();
  return runGate_;
}

std::shared_ptr<CallbackGate> SimulatedStreamState::endRun() {
  MutexLock lock(mutex_);
  return std::exchange(runGate_, nullptr);
}

bool SimulatedStreamState::isCapturing() const {
  MutexLock lock(mutex_);
  return runGate_ != nullptr;
}

std::vector<SimulatedSink> SimulatedStreamState::sinks(DisplayOutputKind kind,
                                                       std::shared_ptr<CallbackGate> gate) const {
  MutexLock lock(mutex_);
  std::vector<SimulatedSink> result;
  if (!runGate_) return result;
  if (!gate) gate = runGate_;
  for (const auto& output : outputs_) {
    if (output.kind == kind) result.push_back({output.queue, output.handler, gate});
  }
  return result;
}

void SimulatedStreamState::notifyStopped(const NSError& error) {
  if (stopped_) lifeGate_->run([&] { stopped_(error); });
}

void SimulatedStreamState::close() {
  lifeGate_->close();
}

SimulatedDisplayStream::SimulatedDisplayStream(std::shared_ptr<SimulatedCaptureBackend> backend,
                                               std::shared_ptr<SimulatedStreamState> state)
    : backend_(std::move(backend)), state_(std::move(state)) {}

SimulatedDisplayStream::~SimulatedDisplayStream() {
  backend_->closeStream(state_);
}

void SimulatedDisplayStream::addOutput(DisplayOutputKind kind, std::shared_ptr<DispatchQueue> queue,
                                       SampleBufferHandler handler) {
  backend_->addStreamOutput(state_, kind, std::move(queue), std::move(handler));
}

void SimulatedDisplayStream::startCapture(CaptureCompletion completion) {
  backend_->startStream(state_, std::move(completion));
}

void SimulatedDisplayStream::stopCapture(CaptureCompletion completion) {
  backend_->stopStream(state_, std::move(completion));
}

}  // namespace harkwell
