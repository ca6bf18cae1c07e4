#pragma once

#include "platform/coremedia/CMTime.h"

// How a stream captures: audio on or off and the shortest interval between
// screen frames. Everything else (audio rate, channels, frame size, pixel
// format) is the backend's default.
// Thread affinity: a value; any thread.
class SCStreamConfiguration {
 public:
  void setCapturesAudio(bool capturesAudio) { capturesAudio_ = capturesAudio; }
  bool capturesAudio() const { return capturesAudio_; }

  // An invalid or non-positive interval means the backend's default frame rate.
  void setMinimumFrameInterval(CMTime interval) { minimumFrameInterval_ = interval; }
  CMTime minimumFrameInterval() const { return minimumFrameInterval_; }

 private:
  bool capturesAudio_ = false;
  CMTime minimumFrameInterval_ = kCMTimeInvalid;
};
