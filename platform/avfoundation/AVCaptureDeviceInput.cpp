#include "platform/avfoundation/AVCaptureDeviceInput.h"

#include "platform/capture/CaptureBackend.h"

AVCaptureDeviceInput::AVCaptureDeviceInput(const AVCaptureDevice& device)
    : device_(device), capture_(device_.backend()->openMicrophone(device_.uniqueID())) {
  if (!capture_) {
    throw harkwell::makeCaptureError(harkwell::CaptureErrorCode::deviceUnavailable,
                                     "The device " + device_.uniqueID() + " cannot be opened");
  }
}

// The capture's own destructor stops it and waits out any delivery in progress.
AVCaptureDeviceInput::~AVCaptureDeviceInput() = default;
