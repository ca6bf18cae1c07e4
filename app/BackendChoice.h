#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/capture/CaptureBackend.h"

namespace harkwell {

// The capture backend the application runs on, and a line telling the user
// which and why; or, when the asked-for backend cannot be had, why not.
// Thread affinity: a plain value, any thread.
struct BackendChoice {
  std::shared_ptr<CaptureBackend> backend;  // null when `error` says why
  std::string description;                  // "simulated (no sound server answered: …)"
  std::string error;
  bool simulated = false;  // generated tones, not a recording
};

// Connects to a sound server; null, with the reason in `whyNot`, when none
// answers in time. Any thread.
using PulseProbe = std::function<std::shared_ptr<CaptureBackend>(std::string& whyNot)>;

// Picks the backend: `requested` (the --backend option) if given, else
// `environment` (HARKWELL_AUDIO_BACKEND; null or empty means unset), else
// PulseAudio when `probePulse` connects, else the paced simulated backend.
// An unknown name, or PulseAudio asked for without a server, is an error
// rather than a quiet fallback; so is a configured server (`pulseServer`,
// PULSE_SERVER, set) that does not answer: a tone in place of the recording
// the user set up would be a lie. Any thread.
BackendChoice chooseBackend(const std::optional<std::string>& requested, const char* environment,
                            const char* pulseServer, const PulseProbe& probePulse);

// The PulseAudio backend's own probe (one second); without PulseAudio support
// in the build it always says why not. Any thread.
PulseProbe pulseAudioProbe();

}  // namespace harkwell
