#pragma once

namespace harkwell {

// One capture that the registry holds under a device id: a microphone or a
// display's system audio. Implementations send their own audio events; the
// registry sends the start and stop events.
// Thread affinity: every method on the registry's thread (the thread of the
// call that created the controller or a later listen/unlisten); the capture
// itself runs on the controller's queues.
class AudioController {
 public:
  virtual ~AudioController() = default;

  // Whether the capture is currently capturing. Registry thread.
  virtual bool isRunning() const = 0;

  // Begins capturing. Registry thread.
  virtual void start() = 0;

  // Ends capturing; does nothing when the capture is not running. Registry thread.
  virtual void stop() = 0;
};

}  // namespace harkwell
