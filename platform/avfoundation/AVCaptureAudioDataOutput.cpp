#include "platform/avfoundation/AVCaptureAudioDataOutput.h"

#include <utility>

AVCaptureAudioDataOutput::AVCaptureAudioDataOutput()
    : gate_(std::make_shared<harkwell::CallbackGate>()) {}

AVCaptureAudioDataOutput::~AVCaptureAudioDataOutput() {
  gate_->close();
}

void AVCaptureAudioDataOutput::setSampleBufferDelegate(
    AVCaptureAudioDataOutputSampleBufferDelegate* delegate, std::shared_ptr<DispatchQueue> queue) {
  // Close first and wait: a call into the old delegate may be running on its
  // queue right now, and the caller may be about to destroy that delegate.
  gate_->close();
  {
    MutexLock lock(mutex_);
    delegate_ = delegate;
    queue_ = std::move(queue);
  }
  gate_->open();
}

AVCaptureAudioDataOutputSampleBufferDelegate* AVCaptureAudioDataOutput::sampleBufferDelegate()
    const {
  MutexLock lock(mutex_);
  return delegate_;
}

std::shared_ptr<DispatchQueue> AVCaptureAudioDataOutput::sampleBufferCallbackQueue() const {
  MutexLock lock(mutex_);
  return queue_;
}

void AVCaptureAudioDataOutput::setAudioSettings(AVAudioSettings settings) {
  MutexLock lock(mutex_);
  settings_ = std::move(settings);
}

AVAudioSettings AVCaptureAudioDataOutput::audioSettings() const {
  MutexLock lock(mutex_);
  return settings_;
}

void AVCaptureAudioDataOutput::deliver(const CMSampleBufferRef& sampleBuffer,
                                       AVCaptureConnection& connection) {
  gate_->run([&] {
    AVCaptureAudioDataOutputSampleBufferDelegate* delegate;
    {
      MutexLock lock(mutex_);
      delegate = delegate_;
    }
    // Called without our lock: the delegate may call back into this output.
    if (delegate) delegate->captureOutput(*this, sampleBuffer, connection);
  });
}
