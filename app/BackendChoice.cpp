#include "app/BackendChoice.h"

#include "backends/simulated/SimulatedCaptureBackend.h"
#if HARKWELL_WITH_PULSE
#include "backends/pulse/PulseCaptureBackend.h"
#endif

namespace harkwell {
namespace {

constexpr const char* simulatedHint = " (--backend simulated records generated test tones instead)";

BackendChoice simulated(std::string why) {
  return BackendChoice{SimulatedCaptureBackend::makePaced(), "simulated (" + why + ")", {}, true};
}

BackendChoice pulse(const PulseProbe& probePulse, const std::string& why) {
  std::string whyNot;
  std::shared_ptr<CaptureBackend> backend = probePulse ? probePulse(whyNot) : nullptr;
  if (!backend) {
    if (whyNot.empty()) whyNot = "no PulseAudio support";
    return BackendChoice{nullptr,
                         {},
                         "the PulseAudio backend was asked for (" + why +
                             "), but no sound server answered: " + whyNot + simulatedHint};
  }
  return BackendChoice{std::move(backend), "PulseAudio (" + why + ")", {}};
}

}  // namespace

BackendChoice chooseBackend(const std::optional<std::string>& requested, const char* environment,
                            const char* pulseServer, const PulseProbe& probePulse) {
  std::string name;
  std::string source;
  if (requested) {
    name = *requested;
    source = "--backend " + name;
  } else if (environment != nullptr && *environment != '\0') {
    name = environment;
    source = "HARKWELL_AUDIO_BACKEND=" + name;
  }
  if (name == "simulated") return simulated(source);
  if (name == "pulse") return pulse(probePulse, source);
  if (!name.empty()) {
    return BackendChoice{
        nullptr,
        {},
        "unknown audio backend '" + name + "' (" + source + "): use simulated or pulse"};
  }
  std::string whyNot;
  if (std::shared_ptr<CaptureBackend> backend = probePulse ? probePulse(whyNot) : nullptr) {
    return BackendChoice{std::move(backend), "PulseAudio (a sound server answered)", {}};
  }
  if (whyNot.empty()) whyNot = "no sound server answered";
  if (pulseServer != nullptr && *pulseServer != '\0') {
    return BackendChoice{nullptr,
                         {},
                         "the sound server PULSE_SERVER names (" + std::string(pulseServer) +
                             ") does not answer: " + whyNot + simulatedHint};
  }
  return simulated("PulseAudio: " + whyNot);
}

PulseProbe pulseAudioProbe() {
  return [](std::string& whyNot) -> std::shared_ptr<CaptureBackend> {
#if HARKWELL_WITH_PULSE
    try {
      return PulseCaptureBackend::create(&whyNot);
    } catch (const std::exception& error) {
      whyNot = error.what();
      return nullptr;
    }
#else
    whyNot = "this build has no PulseAudio support";
    return nullptr;
#endif
  };
}

}  // namespace harkwell
