#pragma once

#include <memory>

#include "platform/avfoundation/AVCaptureDevice.h"
#include "platform/capture/MicrophoneCapture.h"

// The input side of a capture session: the opened device. Opening happens at
// construction, so a device that is gone or busy fails here.
// Thread affinity: any thread; a session drives it.
class AVCaptureDeviceInput {
 public:
  // Opens `device` on its backend. Throws NSError when it cannot be opened.
  // Any thread.
  explicit AVCaptureDeviceInput(const AVCaptureDevice& device);
  ~AVCaptureDeviceInput();

  AVCaptureDeviceInput(const AVCaptureDeviceInput&) = delete;
  AVCaptureDeviceInput& operator=(const AVCaptureDeviceInput&) = delete;

  const AVCaptureDevice& device() const { return device_; }

  // The opened microphone, for the session that runs it. Any thread.
  harkwell::MicrophoneCapture& capture() const { return *capture_; }

 private:
  AVCaptureDevice device_;
  std::unique_ptr<harkwell::MicrophoneCapture> capture_;
};
