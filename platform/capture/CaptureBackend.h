#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/capture/CaptureTypes.h"
#include "platform/capture/DisplayStream.h"
#include "platform/capture/MicrophoneCapture.h"

namespace harkwell {

// The seam under the AVFoundation and ScreenCaptureKit stand-ins: where
// microphones, displays, permissions and their sample buffers come from.
// Implemented by the simulated and the PulseAudio backends; app/ picks one at
// start-up with setCurrent(), tests pick theirs.
//
// Lifetime: the stand-ins hold the backend through shared_ptr, and own the
// MicrophoneCapture / DisplayStream objects it opens; those objects may keep
// their backend alive. Handlers stop on their objects' destruction (see there);
// completions always run exactly once.
// Thread affinity: every method may be called from any thread; completions run
// on a thread of the backend's choosing, possibly inside the call.
class CaptureBackend {
 public:
  virtual ~CaptureBackend() = default;

  // The version the backend reports as the running system's (13 or 14 decides
  // the microphone device type). Any thread.
  virtual OperatingSystemVersion operatingSystemVersion() = 0;

  // The microphones of `deviceType` (an AVCaptureDeviceType name), in platform
  // order; empty when there is none or the backend cannot list. Any thread.
  virtual std::vector<MicrophoneInfo> microphones(const std::string& deviceType) = 0;

  // Microphone authorisation and the access request; `completion` gets the
  // granted flag exactly once. Any thread.
  virtual CaptureAuthorizationStatus microphoneAuthorizationStatus() = 0;
  virtual void requestMicrophoneAccess(std::function<void(bool granted)> completion) = 0;

  // Opens the microphone `uniqueID` (not yet running). Throws NSError when it
  // does not exist or cannot be opened. Any thread.
  virtual std::unique_ptr<MicrophoneCapture> openMicrophone(const std::string& uniqueID) = 0;

  // The displays that may be captured, or the error that says capture is not
  // allowed or not possible; `completion` runs exactly once. Any thread.
  virtual void getShareableContent(std::function<void(ShareableContentAnswer)> completion) = 0;

  // A stream on display `displayID`; never null. An unknown display fails at
  // startCapture. `stopped` is called (on a thread of the backend's choosing,
  // never after the stream's destruction) when a running capture ends by itself.
  // Any thread.
  virtual std::unique_ptr<DisplayStream> openDisplayStream(std::uint32_t displayID,
                                                           DisplayStreamSettings settings,
                                                           StreamStoppedHandler stopped) = 0;

  // The process-wide backend used by the stand-ins. current() never returns
  // null: with nothing set it is a backend without devices whose operations
  // fail with CaptureErrorCode::noBackend. Any thread.
  static void setCurrent(std::shared_ptr<CaptureBackend> backend);
  static std::shared_ptr<CaptureBackend> current();
};

}  // namespace harkwell
