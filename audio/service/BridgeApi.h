#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/capture/AudioController.h"
#include "bridge/AudioDevice.h"
#include "bridge/AudioDeviceType.h"
#include "bridge/BridgeFlutterApi.h"
#include "bridge/BridgeHostApi.h"
#include "bridge/NativeAudioEventType.h"
#include "platform/avfoundation/AVCaptureDevice.h"
#include "platform/dispatch/ThreadRole.h"
#include "platform/screencapturekit/SCShareableContent.h"

namespace harkwell {

// The host API behind the five host channels: a registry of captures keyed by
// device id (listen / unlisten), the listing of microphones and displays, and
// the two capture permissions. No operation ever fails towards the UI: what
// happens to a capture reaches the UI as deviceStart / deviceStop events sent
// through `flutterApi`, and failures show only as log lines on standard output
// ("failed to listen input device <name>", "failed to listen output device
// <name>") or as missing events.
//
// Thread affinity: the BridgeHostApi operations run on the main thread, and so
// does every access to the registry, which is GUARDED_BY(mainThread) and
// asserted at every entry point: the display branch of listen, which waits for
// the display list on a background task, hands the display back to the main
// thread, and the end of a capture reported on a platform thread is handed to
// the main thread too. getDevices for displays and checkPermission
// complete on background task threads. The helpers that wait for the platform
// (getOuputDevices, checkSystemAudioPermission, checkMicAudioPermission) run
// on background task threads.
class BridgeApi final : public BridgeHostApi, public std::enable_shared_from_this<BridgeApi> {
  struct ConstructionToken {
    explicit ConstructionToken() = default;
  };

 public:
  // Device id → the capture registered for it, running or not.
  using Controllers = std::map<std::string, std::shared_ptr<AudioController>>;

  // A BridgeApi with an empty registry that sends its events, and hands every
  // controller it creates, `flutterApi`. Background tasks keep the object alive
  // until they finish, hence the shared ownership. Throws std::invalid_argument
  // for a null `flutterApi`. Any thread.
  static std::shared_ptr<BridgeApi> create(std::shared_ptr<BridgeFlutterApiProtocol> flutterApi);

  // Use create(). Any thread.
  BridgeApi(ConstructionToken, std::shared_ptr<BridgeFlutterApiProtocol> flutterApi);

  BridgeApi(const BridgeApi&) = delete;
  BridgeApi& operator=(const BridgeApi&) = delete;

  // The registry as it stands: the captures made so far, running or stopped
  // (a display listen still waiting for the display list has none yet). Main
  // thread.
  Controllers controllers() const;

  // The event sender; never changes. Any thread.
  const std::shared_ptr<BridgeFlutterApiProtocol>& flutterApi() const { return flutterApi_; }

  // --- Permissions ------------------------------------------------------------
  // Returns at once; a background task asks for screen capture, then for the
  // microphone, and completes with both answers, never with an error. The
  // reply may wait for the user to answer a microphone prompt. Main thread.
  void checkPermission(CheckPermissionCompletion completion) override;
  // Whether the shareable screen content can be read; any error means no.
  // Blocks until the platform answers. Background task thread.
  bool checkSystemAudioPermission();
  // Whether microphone access is granted; asks the platform (and so possibly
  // the user) unless already authorised. Blocks until answered. Background
  // task thread.
  bool checkMicAudioPermission();
  // Opens the settings pane where the permission for `type` is granted and
  // ignores whether that worked. Never throws. Main thread.
  void requestPermission(AudioDeviceType type) override;

  // --- Devices ----------------------------------------------------------------
  // The microphones, in platform order; the device type asked for depends on
  // the system version. Empty when they cannot be listed. Any thread.
  std::vector<AVCaptureDevice> getInputDevices();
  // The displays, in platform order; empty when the platform refuses the query
  // (for instance without screen-capture permission). Blocks until the
  // platform answers. Background task thread.
  std::vector<SCDisplay> getOuputDevices();
  // Lists the sources of `type`: microphones before returning, displays later
  // from a background task. Always completes with a list, exactly once. Main
  // thread.
  void getDevices(AudioDeviceType type, GetDevicesCompletion completion) override;

  // The id under which a display is listed and listened to: its displayID in
  // decimal digits. Any thread.
  static std::string displayId(const SCDisplay& display);

  // --- Captures ---------------------------------------------------------------
  // Starts capturing `device` unless its capture already runs or is being
  // started. A stopped or ended entry for the id goes first; then `device.type`
  // picks the branch. Never throws. Main thread.
  void listen(const AudioDevice& device) override;
  // Stops the running capture of `device.id`, or removes its stopped entry, and
  // sends deviceStop with the type as given; no entry, no event. A display
  // start still waiting for the display list is cancelled instead, and the UI
  // hears nothing of it: it saw no deviceStart, so it gets no deviceStop.
  // Once this returns no audio of the id's capture reaches the UI and nothing
  // of it runs. Never throws. Main thread.
  void unlisten(const AudioDevice& device) override;

 private:
  // One registry entry. A display listen first registers a pending entry (no
  // controller) and the background task's answer is taken only while the
  // entry still holds that listen's generation: an unlisten or a newer listen
  // in between makes it stale.
  struct Capture {
    std::uint64_t generation = 0;
    AudioDeviceType type = AudioDeviceType::input;
    std::shared_ptr<AudioController> controller;
    // deviceStop went out for this capture (unlisten, or its end was told).
    bool stopTold = false;
  };

  // The microphone branch, done before returning: creates, stores and starts
  // the controller and sends deviceStart. Main thread.
  void listenToInputDevice(const AudioDevice& device) REQUIRES(mainThread);
  // The display branch: registers a pending entry and returns; a background
  // task looks the display up and hands it to startDisplay. Main thread.
  void listenToOutputDevice(const AudioDevice& device) REQUIRES(mainThread);
  // Creates, stores and starts the display controller of the listen that made
  // `generation`, unless that listen was cancelled or superseded since; then
  // sends deviceStart. Main thread.
  void startDisplay(const AudioDevice& device, std::uint64_t generation,
                    const std::optional<SCDisplay>& display) REQUIRES(mainThread);
  // Registers `controller` under `id` as a new capture and routes its end
  // back to captureEnded. Main thread.
  Capture& store(const std::string& id, AudioDeviceType type,
                 std::shared_ptr<AudioController> controller) REQUIRES(mainThread);
  // A capture ended by itself: unless it was stopped or replaced since, it is
  // torn down, stays registered as stopped, and the UI gets one deviceStop with
  // `reason`. Main thread.
  void captureEnded(const std::string& id, std::uint64_t generation, const std::string& reason)
      REQUIRES(mainThread);

  // Sends a registry event (deviceStart / deviceStop) without audio or error;
  // its delivery outcome is ignored. Any thread.
  void sendDeviceEvent(const std::string& id, AudioDeviceType type, NativeAudioEventType eventType,
                       std::optional<std::string> error = std::nullopt) const;

  const std::shared_ptr<BridgeFlutterApiProtocol> flutterApi_;
  // Main thread only, which is what serialises the listen and unlisten calls
  // with the display tasks and the reported ends: those never touch it
  // themselves.
  std::map<std::string, Capture> captures_ GUARDED_BY(mainThread);
  std::uint64_t nextGeneration_ GUARDED_BY(mainThread) = 0;
};

}  // namespace harkwell
