#pragma once

#include <functional>
#include <memory>

#include "platform/avfoundation/AVCaptureAudioDataOutput.h"
#include "platform/avfoundation/AVCaptureDeviceInput.h"
#include "platform/dispatch/CallbackGate.h"
#include "platform/dispatch/Mutex.h"

// Connects one device input to one audio data output and runs the capture.
// Changes made while running apply at the next startRunning.
//
// After stopRunning() or the destructor returns, no buffer reaches the output's
// delegate (a call in progress on another thread is waited for; see
// AVCaptureAudioDataOutput). The session may also stop by itself when its
// device goes away; isRunning() then turns false.
// Thread affinity: any thread; start and stop are meant to be called from one
// thread at a time.
class AVCaptureSession {
 public:
  AVCaptureSession();
  ~AVCaptureSession();

  AVCaptureSession(const AVCaptureSession&) = delete;
  AVCaptureSession& operator=(const AVCaptureSession&) = delete;

  // Bracket a group of changes. They nest. Any thread.
  void beginConfiguration() EXCLUDES(mutex_);
  void commitConfiguration() EXCLUDES(mutex_);

  // A session takes one input and one output. Any thread.
  bool canAddInput(const std::shared_ptr<AVCaptureDeviceInput>& input) const EXCLUDES(mutex_);
  bool canAddOutput(const std::shared_ptr<AVCaptureAudioDataOutput>& output) const EXCLUDES(mutex_);

  // Throw NSError when the session cannot take it (null, or a second one).
  // Any thread.
  void addInput(std::shared_ptr<AVCaptureDeviceInput> input) EXCLUDES(mutex_);
  void addOutput(std::shared_ptr<AVCaptureAudioDataOutput> output) EXCLUDES(mutex_);

  // Called with the error, on a platform thread, when the running capture stops
  // by itself (device gone, server gone, interrupted); never once stopRunning()
  // or the destructor has returned. Applies from the next startRunning() on.
  // Any thread.
  void setRuntimeErrorHandler(std::function<void(const NSError&)> handler) EXCLUDES(mutex_);

  // Blocks until the capture runs or has failed; a failure leaves isRunning()
  // false and writes one diagnostic line to standard error. Without an input
  // nothing runs. Any thread but the delegate queue.
  void startRunning() EXCLUDES(mutex_);

  // Stops the capture; nothing when not running. Any thread.
  void stopRunning() EXCLUDES(mutex_);

  bool isRunning() const EXCLUDES(mutex_);

 private:
  mutable Mutex mutex_;
  int configurationDepth_ GUARDED_BY(mutex_) = 0;
  std::shared_ptr<AVCaptureDeviceInput> input_ GUARDED_BY(mutex_);
  std::shared_ptr<AVCaptureAudioDataOutput> output_ GUARDED_BY(mutex_);
  std::shared_ptr<AVCaptureConnection> connection_ GUARDED_BY(mutex_);
  std::function<void(const NSError&)> runtimeErrorHandler_ GUARDED_BY(mutex_);
  // Open while running; the buffers in flight when the session stops hit it closed.
  std::shared_ptr<harkwell::CallbackGate> gate_;
};
