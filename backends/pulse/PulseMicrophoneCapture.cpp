#include "backends/pulse/PulseMicrophoneCapture.h"

#include "platform/dispatch/LogLine.h"

namespace harkwell {

PulseMicrophoneCapture::PulseMicrophoneCapture(std::shared_ptr<PulseConnection> connection,
                                               std::string sourceName)
    : sourceName_(sourceName),
      stream_(std::move(connection), std::move(sourceName), "Microphone") {}

PulseMicrophoneCapture::~PulseMicrophoneCapture() {
  stopRunning();
}

void PulseMicrophoneCapture::setOutput(AudioOutputSettings, std::shared_ptr<DispatchQueue> queue,
                                       SampleBufferHandler handler) {
  MutexLock lock(mutex_);
  queue_ = std::move(queue);
  handler_ = std::move(handler);
}

void PulseMicrophoneCapture::setStoppedHandler(StreamStoppedHandler stopped) {
  MutexLock lock(mutex_);
  stopped_ = std::move(stopped);
}

std::optional<NSError> PulseMicrophoneCapture::startRunning() {
  if (stream_.isRunning()) return std::nullopt;
  auto gate = std::make_shared<CallbackGate>();
  std::shared_ptr<DispatchQueue> queue;
  SampleBufferHandler handler;
  StreamStoppedHandler stopped;
  {
    MutexLock lock(mutex_);
    if (gate_) gate_->close();
    gate_ = gate;
    queue = queue_;
    handler = handler_;
    stopped = stopped_;
  }
  PulseRecordStream::BufferHandler onBuffer;
  if (queue && handler) {
    // Mainloop thread: hop to the consumer's queue at once; the gate drops
    // buffers that arrive there after a stop.
    onBuffer = [gate, queue, handler](CMSampleBufferRef buffer) {
      queue->async(
          [gate, handler, buffer = std::move(buffer)] { gate->run([&] { handler(buffer); }); });
    };
  }
  const std::string source = sourceName_;
  // Mainloop thread: isRunning() already reads false. Besides a short note, the
  // consumer is told through the run's gate, so never after stopRunning(); the
  // handler only hands the news on and does not block.
  auto onFailure = [gate, source, stopped](NSError error) {
    writeDiagnostic("microphone " + source + " stopped: " + error.localizedDescription());
    gate->run([&] {
      if (stopped) stopped(error);
    });
  };
  // The stream's wait takes no lock of ours: stopRunning() from another thread
  // is not held up by a slow server.
  std::optional<NSError> error = stream_.start(std::move(onBuffer), std::move(onFailure));
  if (error) gate->close();
  return error;
}

void PulseMicrophoneCapture::stopRunning() {
  // No handler runs once the stream is stopped (delivery to the queue ends) and
  // the gate is closed (buffers already queued are dropped, a call in progress
  // elsewhere is waited for).
  stream_.stop();
  std::shared_ptr<CallbackGate> gate;
  {
    MutexLock lock(mutex_);
    gate = gate_;
  }
  if (gate) gate->close();
}

}  // namespace harkwell
