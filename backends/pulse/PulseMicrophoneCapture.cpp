#include "backends/pulse/PulseMicrophoneCapture.h"

#include <pulse/sample.h>

#include <cmath>

#include "platform/coremedia/AudioStreamBasicDescription.h"
#include "platform/dispatch/LogLine.h"

namespace harkwell {

namespace {

// The rate and channel count the output's settings ask for, which the server
// then converts to with its own filtered resampler and remixer, as the
// platform's capture honours them. Settings it cannot honour (another format,
// a fractional or out-of-range rate, more than two channels) leave the whole
// choice to the device, and the consumer converts. Blocks are at least one
// fragment: a source fed from a monitor hands over less at a time.
PulseRecordStream::Shape shapeFor(const AudioOutputSettings& requested) {
  const double rate = requested.sampleRate;
  const bool honoured =
      (requested.formatID == 0 || requested.formatID == kAudioFormatLinearPCM) &&
      (rate == 0 || (rate >= 1 && rate <= PA_RATE_MAX && rate == std::floor(rate))) &&
      requested.numberOfChannels >= 0 && requested.numberOfChannels <= 2;
  PulseRecordStream::Shape shape;
  if (honoured) {
    shape.sampleRate = static_cast<uint32_t>(rate);
    shape.channels = static_cast<uint8_t>(requested.numberOfChannels);
  }
  return shape;
}

}  // namespace

PulseMicrophoneCapture::PulseMicrophoneCapture(std::shared_ptr<PulseConnection> connection,
                                               std::string sourceName)
    : sourceName_(sourceName),
      stream_(std::move(connection), std::move(sourceName), "Microphone") {}

PulseMicrophoneCapture::~PulseMicrophoneCapture() {
  stopRunning();
}

void PulseMicrophoneCapture::setOutput(AudioOutputSettings requested,
                                       std::shared_ptr<DispatchQueue> queue,
                                       SampleBufferHandler handler) {
  MutexLock lock(mutex_);
  shape_ = shapeFor(requested);
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
  PulseRecordStream::Shape shape;
  {
    MutexLock lock(mutex_);
    shape = shape_;
    if (gate_) gate_->close();
    gate_ = gate;
    queue = queue_;
    handler = handler_;
    stopped = stopped_;
  }
  PulseRecordStream::BufferHandler onBuffer;
  if (queue && handler) {
    // Mainloop thread: hop to the consumer's queue at once (its handler runs
    // there, and this thread must not wait); the gate drops buffers that
    // arrive there after a stop. The handler is shared, not copied per buffer:
    // a copy would allocate here and be freed on the queue's thread.
    onBuffer = [gate, queue,
                handler = std::make_shared<const SampleBufferHandler>(std::move(handler))](
                   CMSampleBufferRef buffer) {
      queue->async(
          [gate, handler, buffer = std::move(buffer)] { gate->run([&] { (*handler)(buffer); }); });
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
  std::optional<NSError> error = stream_.start(std::move(onBuffer), std::move(onFailure), shape);
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
