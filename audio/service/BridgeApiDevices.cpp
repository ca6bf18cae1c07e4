// Device enumeration: the microphone and display lists, and getDevices.
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "audio/service/AwaitCompletion.h"
#include "audio/service/BridgeApi.h"
#include "platform/avfoundation/AVFoundationTypes.h"
#include "platform/avfoundation/ProcessInfo.h"
#include "platform/dispatch/BackgroundTasks.h"
#include "platform/dispatch/LogLine.h"

namespace harkwell {

namespace {

// The default is decided by position alone, as equality with the first entry
// the platform listed; the system's own idea of a default is not consulted.
std::vector<AudioDevice> microphoneRecords(const std::vector<AVCaptureDevice>& devices) {
  std::vector<AudioDevice> records;
  records.reserve(devices.size());
  for (const AVCaptureDevice& device : devices) {
    records.push_back(AudioDevice{device.localizedName(), AudioDeviceType::input, device.uniqueID(),
                                  device.isEqual(devices.front())});
  }
  return records;
}

std::vector<AudioDevice> displayRecords(const std::vector<SCDisplay>& displays,
                                        AudioDeviceType type) {
  std::vector<AudioDevice> records;
  records.reserve(displays.size());
  for (const SCDisplay& display : displays) {
    const std::string id = BridgeApi::displayId(display);
    records.push_back(AudioDevice{"Display " + id, type, id, display.isEqual(displays.front())});
  }
  return records;
}

}  // namespace

std::string BridgeApi::displayId(const SCDisplay& display) {
  return std::to_string(display.displayID());
}

std::vector<AVCaptureDevice> BridgeApi::getInputDevices() {
  try {
    // Exactly one type: "microphone" from 14.0 on covers built-in and external
    // devices; before that only "built-in microphone" exists.
    const bool microphoneTypeExists =
        ProcessInfo::processInfo().isOperatingSystemAtLeastVersion({14, 0, 0});
    const AVCaptureDeviceType deviceType =
        microphoneTypeExists ? AVCaptureDeviceTypeMicrophone : AVCaptureDeviceTypeBuiltInMicrophone;
    auto session = AVCaptureDeviceDiscoverySession::discoverySessionWithDeviceTypes(
        {deviceType}, AVMediaTypeAudio, AVCaptureDevicePosition::unspecified);
    if (session) return session->devices();
  } catch (const std::exception& error) {
    writeDiagnostic(std::string("listing microphones failed: ") + error.what());
  }
  return {};
}

std::vector<SCDisplay> BridgeApi::getOuputDevices() {
  return awaitCompletion(
      [](auto done) {
        SCShareableContent::getShareableContentExcludingDesktopWindows(
            false, true,
            [done = std::move(done)](std::optional<SCShareableContent> content,
                                     std::optional<NSError> error) {
              // A refused query (no screen-capture permission, say) lists
              // nothing; the error itself is of no use to the caller.
              if (error || !content) {
                done(std::vector<SCDisplay>());
              } else {
                done(content->displays());
              }
            });
      },
      std::vector<SCDisplay>());
}

void BridgeApi::getDevices(AudioDeviceType type, GetDevicesCompletion completion) {
  if (type != AudioDeviceType::output) {
    completion(Result<std::vector<AudioDevice>>::success(microphoneRecords(getInputDevices())));
    return;
  }
  // Waiting for the display list must not hold up the main thread; the reply
  // leaves from the task's thread.
  BackgroundTasks::detach([self = shared_from_this(), type, completion = std::move(completion)] {
    std::vector<AudioDevice> records;
    try {
      records = displayRecords(self->getOuputDevices(), type);
    } catch (const std::exception& error) {
      writeDiagnostic(std::string("listing displays failed: ") + error.what());
    }
    try {
      completion(Result<std::vector<AudioDevice>>::success(std::move(records)));
    } catch (const std::exception& error) {
      writeDiagnostic(std::string("getDevices reply failed: ") + error.what());
    }
  });
}

}  // namespace harkwell
