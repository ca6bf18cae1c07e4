#pragma once

#include <functional>
#include <string>

namespace harkwell {

// One capture that the registry holds under a device id: a microphone or a
// display's system audio. Implementations send the capture's deviceStart and
// its audio events, both on the capture's own audio queue, so that deviceStart
// is always the first event of a capture; the registry sends deviceStop once
// stop() has made sure that no audio event can follow it.
// Thread affinity: every method on the registry's thread (the main thread);
// the capture itself runs on the controller's queues.
class AudioController {
 public:
  // Told, at most once and on a platform thread, that the capture ended by
  // itself (start refused, stream error, device or sound server gone), with a
  // short reason. It must only hand the news on, never call back into the
  // controller.
  using EndedHandler = std::function<void(std::string reason)>;

  virtual ~AudioController() = default;

  // Whether the capture is capturing or about to (a start is under way); false
  // once stopped or ended. Registry thread.
  virtual bool isRunning() const = 0;

  // Begins capturing. Registry thread.
  virtual void start() = 0;

  // Ends capturing for good: when this returns, no audio event of this capture
  // is sent any more and no platform capture of it runs, whether or not the
  // platform's stop succeeded. Registry thread.
  virtual void stop() = 0;

  // Sends deviceStart unless the capture's first audio block already did.
  // Returns once it is sent. Registry thread.
  virtual void announceStart() = 0;

  // Whether deviceStart went out (announced, or sent ahead of the first audio
  // block). Registry thread; waits for the audio queue.
  virtual bool startWasSent() = 0;

  // Where the end of a capture is reported; set before start(). Registry thread.
  virtual void setEndedHandler(EndedHandler handler) = 0;
};

}  // namespace harkwell
