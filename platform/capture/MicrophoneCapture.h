#pragma once

#include <memory>
#include <optional>

#include "platform/capture/CaptureTypes.h"
#include "platform/dispatch/DispatchQueue.h"

namespace harkwell {

// One opened microphone: the backend side of an AVCaptureDeviceInput and the
// session that runs it.
//
// Lifetime: destroying it stops the capture and returns only once no handler
// call is in progress (a destructor running on the delivery queue itself does
// not wait for the call that is running it); no handler call starts after the
// destructor or stopRunning() has returned.
// Thread affinity: any thread; calls are serialised by the caller.
class MicrophoneCapture {
 public:
  virtual ~MicrophoneCapture() = default;

  // Where and how buffers go from the next startRunning() on. Buffers are
  // delivered one at a time by calling `handler` on `queue` (a null queue or
  // handler delivers nothing). Any thread.
  virtual void setOutput(AudioOutputSettings requested, std::shared_ptr<DispatchQueue> queue,
                         SampleBufferHandler handler) = 0;

  // Called, on a thread of the backend's choosing, when a running capture ends
  // by itself (device gone, server gone, stream error); never once stopRunning()
  // or the destructor has returned. Applies from the next startRunning() on.
  // Any thread.
  virtual void setStoppedHandler(StreamStoppedHandler stopped) = 0;

  // Blocks until the capture runs (nullopt) or has failed (the error). A running
  // capture stays running. Any thread but the delivery queue.
  virtual std::optional<NSError> startRunning() = 0;

  // Stops delivery; does nothing when not running. Any thread.
  virtual void stopRunning() = 0;

  // False before startRunning, after stopRunning, and once the capture stopped
  // by itself (device gone, server gone). Any thread.
  virtual bool isRunning() const = 0;
};

}  // namespace harkwell
