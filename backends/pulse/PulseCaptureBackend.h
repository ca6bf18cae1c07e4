#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "backends/pulse/PulseConnection.h"
#include "platform/capture/CaptureBackend.h"

namespace harkwell {

// The capture backend on a PulseAudio server (or pipewire-pulse).
// Microphones are the sources that are not monitors, the default first; their
// uniqueID is the source name. Displays are the sinks with a monitor; their id
// is the FNV-1a-32 hash of the sink name, captured through the monitor source.
// Permissions mean "the server is reachable": there is no consent gate.
// Every call answers within the deadline, also when the server is frozen or
// gone; a server that went away is reconnected to on the next call.
// Thread affinity: any thread (see CaptureBackend).
class PulseCaptureBackend final : public CaptureBackend {
 public:
  struct Options {
    PulseConnection::Options connection;
    // How long create() waits for a server to answer.
    std::chrono::milliseconds probeDeadline{1000};
  };

  // A backend on a server that answered within the probe deadline, or null
  // (with the reason in `whyNot` when given). Any thread.
  static std::shared_ptr<PulseCaptureBackend> create(Options options,
                                                     std::string* whyNot = nullptr);
  // With the default options. Any thread.
  static std::shared_ptr<PulseCaptureBackend> create(std::string* whyNot = nullptr);

  // Use create(); public for make_shared. Throws std::runtime_error when the
  // mainloop cannot be started.
  explicit PulseCaptureBackend(const Options& options);
  PulseCaptureBackend(const PulseCaptureBackend&) = delete;
  PulseCaptureBackend& operator=(const PulseCaptureBackend&) = delete;

  // Any thread.
  OperatingSystemVersion operatingSystemVersion() override { return {14, 0, 0}; }
  // Any thread; answers within the deadline (empty when the server does not).
  std::vector<MicrophoneInfo> microphones(const std::string& deviceType) override;
  // Any thread; answers within the deadline.
  CaptureAuthorizationStatus microphoneAuthorizationStatus() override;
  // Re-checks; no prompt exists. Completion inside the call. Any thread.
  void requestMicrophoneAccess(std::function<void(bool granted)> completion) override;
  // Throws NSError when the source is not a listed microphone or the server
  // does not answer. Any thread.
  std::unique_ptr<MicrophoneCapture> openMicrophone(const std::string& uniqueID) override;
  // Completion inside the call, within the deadline; an error when the server
  // does not answer. Any thread.
  void getShareableContent(std::function<void(ShareableContentAnswer)> completion) override;
  // Any thread.
  std::unique_ptr<DisplayStream> openDisplayStream(std::uint32_t displayID,
                                                   DisplayStreamSettings settings,
                                                   StreamStoppedHandler stopped) override;

 private:
  // Shared with every capture opened here: the mainloop lives as long as any of them.
  std::shared_ptr<PulseConnection> connection_;
};

}  // namespace harkwell
