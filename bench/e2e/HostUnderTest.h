#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/AudioDevice.h"
#include "bridge/BridgeFlutterApi.h"
#include "platform/capture/CaptureBackend.h"
#include "platform/flutter/CodecValue.h"
#include "platform/flutter/FlutterEngine.h"

namespace harkwell::e2e {

// The host wired as the main window wires it, over the PulseAudio backend: a
// UI engine, one BridgeFlutterApi on its messenger and one BridgeApi behind
// the five host channels. The UI's calls go out as encoded bytes from the
// engine's UI side. The thread that creates it is the main thread and pumps
// the main loop whenever it waits (pumpUntil).
// Thread affinity: main thread only.
class HostUnderTest {
 public:
  // The host on the sound server libpulse picks, or null with the reason in
  // `whyNot` when none answers.
  static std::unique_ptr<HostUnderTest> create(std::string& whyNot);

  // Takes the host down before the engine it sends through, then the backend.
  ~HostUnderTest();
  HostUnderTest(const HostUnderTest&) = delete;
  HostUnderTest& operator=(const HostUnderTest&) = delete;

  FlutterUiSide& ui() { return engine_->uiSide(); }

  // Runs main-queue work until `done` holds or `timeout` passes; whether
  // `done` held. Polls in steps of at most a millisecond.
  bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  // Runs main-queue work for `duration`.
  void pumpFor(std::chrono::milliseconds duration);

  // The displays, as getDevices(output) answers the UI; nullopt when no
  // usable reply came in time.
  std::optional<std::vector<AudioDevice>> displays();
  // Sends listen / unlisten for `device`; whether the host answered [null].
  bool listen(const AudioDevice& device);
  bool unlisten(const AudioDevice& device);

 private:
  HostUnderTest(std::shared_ptr<CaptureBackend> backend);

  // Sends `message` on the host channel of `operation` and waits for the
  // reply's bytes.
  std::optional<std::vector<std::uint8_t>> call(std::string_view operation,
                                                const CodecValue& message);

  std::shared_ptr<CaptureBackend> backend_;
  std::unique_ptr<FlutterEngine> engine_;
  std::shared_ptr<BridgeFlutterApi> flutterApi_;
};

}  // namespace harkwell::e2e
