#include "platform/screencapturekit/SCStream.h"

#include <algorithm>
#include <utility>

#include "platform/capture/CaptureBackend.h"

namespace {

harkwell::DisplayStreamSettings settingsOf(const SCStreamConfiguration& configuration) {
  harkwell::DisplayStreamSettings settings;
  settings.capturesAudio = configuration.capturesAudio();
  const double interval = CMTimeGetSeconds(configuration.minimumFrameInterval());
  settings.minimumFrameIntervalSeconds = interval > 0 ? interval : 0;
  return settings;
}

}  // namespace

SCStream::SCStream(const SCContentFilter& filter, const SCStreamConfiguration& configuration,
                   SCStreamDelegate* delegate)
    : delegateGate_(std::make_shared<harkwell::CallbackGate>()) {
  // The handler reaches `this` only through the gate, which the destructor
  // closes before anything of this stream goes away.
  harkwell::StreamStoppedHandler stopped;
  if (delegate) {
    stopped = [gate = delegateGate_, this, delegate](NSError error) {
      gate->run([&] { delegate->streamDidStopWithError(*this, error); });
    };
  }
  stream_ = filter.display().backend()->openDisplayStream(
      filter.display().displayID(), settingsOf(configuration), std::move(stopped));
}

SCStream::~SCStream() {
  delegateGate_->close();
  std::vector<Registration> outputs;
  {
    MutexLock lock(mutex_);
    outputs.swap(outputs_);
  }
  // Closed outside our lock: an output call in progress may call into this
  // stream (removeStreamOutput) and must be able to finish.
  for (auto& registration : outputs) registration.gate->close();
  // The backend stream stops a running capture and waits out its handlers.
  stream_.reset();
}

void SCStream::addStreamOutput(SCStreamOutput* output, SCStreamOutputType type,
                               std::shared_ptr<DispatchQueue> queue) {
  if (!output || !queue) {
    throw harkwell::makeCaptureError(harkwell::CaptureErrorCode::outputRejected,
                                     "A stream output needs an output and a queue");
  }
  auto gate = std::make_shared<harkwell::CallbackGate>();
  // As for the delegate: `this` and `output` are reached only through the gate.
  stream_->addOutput(static_cast<harkwell::DisplayOutputKind>(type), std::move(queue),
                     [gate, this, output, type](CMSampleBufferRef sampleBuffer) {
                       gate->run([&] { output->stream(*this, std::move(sampleBuffer), type); });
                     });
  MutexLock lock(mutex_);
  outputs_.push_back({output, type, std::move(gate)});
}

void SCStream::removeStreamOutput(SCStreamOutput* output, SCStreamOutputType type) {
  std::shared_ptr<harkwell::CallbackGate> gate;
  {
    MutexLock lock(mutex_);
    auto it = std::find_if(outputs_.begin(), outputs_.end(), [&](const Registration& r) {
      return r.output == output && r.type == type;
    });
    if (it == outputs_.end()) {
      throw harkwell::makeCaptureError(harkwell::CaptureErrorCode::outputRejected,
                                       "The output was not added to this stream");
    }
    gate = std::move(it->gate);
    outputs_.erase(it);
  }
  // Waited for outside our lock: the output's call in progress may itself call
  // into this stream.
  gate->close();
}

void SCStream::startCapture(CompletionHandler completionHandler) {
  stream_->startCapture(guarded(std::move(completionHandler)));
}

void SCStream::stopCapture(CompletionHandler completionHandler) {
  stream_->stopCapture(guarded(std::move(completionHandler)));
}

harkwell::CaptureCompletion SCStream::guarded(CompletionHandler handler) {
  return [handler = std::move(handler)](std::optional<NSError> error) {
    if (!handler) return;
    // Runs on a backend thread: nothing may escape into it.
    try {
      handler(std::move(error));
    } catch (...) {
    }
  };
}
