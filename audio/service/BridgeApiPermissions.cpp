// Permissions: checkPermission and its two checks, requestPermission.
#include <exception>
#include <optional>
#include <utility>

#include "audio/service/AwaitCompletion.h"
#include "audio/service/BridgeApi.h"
#include "audio/service/SystemUrls.h"
#include "platform/appkit/NSWorkspace.h"
#include "platform/avfoundation/AVFoundationTypes.h"
#include "platform/dispatch/BackgroundTasks.h"
#include "platform/dispatch/LogLine.h"

namespace harkwell {

void BridgeApi::checkPermission(CheckPermissionCompletion completion) {
  // The microphone check may wait for the user to answer a prompt; that wait
  // belongs on a background task, and the reply leaves from there.
  BackgroundTasks::detach([self = shared_from_this(), completion = std::move(completion)] {
    AudioPermission permission;
    try {
      // One after the other, screen capture first: the microphone prompt, if
      // any, only comes once the screen-capture question is settled.
      permission.system = self->checkSystemAudioPermission();
      permission.mic = self->checkMicAudioPermission();
    } catch (const std::exception& error) {
      writeDiagnostic(std::string("permission check failed: ") + error.what());
    }
    try {
      completion(Result<AudioPermission>::success(permission));
    } catch (const std::exception& error) {
      writeDiagnostic(std::string("checkPermission reply failed: ") + error.what());
    }
  });
}

bool BridgeApi::checkSystemAudioPermission() {
  return awaitCompletion(
      [](auto done) {
        SCShareableContent::getShareableContentExcludingDesktopWindows(
            false, true,
            [done = std::move(done)](std::optional<SCShareableContent> content,
                                     std::optional<NSError> error) {
              // Any content counts, even one without displays; any error, of
              // whatever kind, means no permission.
              done(!error && content.has_value());
            });
      },
      false);
}

bool BridgeApi::checkMicAudioPermission() {
  if (AVCaptureDevice::authorizationStatusForMediaType(AVMediaTypeAudio) ==
      AVAuthorizationStatus::authorized) {
    return true;
  }
  // Not determined, restricted or denied alike: the request is what prompts
  // the user (when the system still may), and its answer is the result.
  return awaitCompletion(
      [](auto done) {
        AVCaptureDevice::requestAccessForMediaType(
            AVMediaTypeAudio, [done = std::move(done)](bool granted) { done(granted); });
      },
      false);
}

void BridgeApi::requestPermission(AudioDeviceType type) {
  try {
    // Only the pane is shown; the user grants the permission there, so a pane
    // that cannot be opened is not worth an error either.
    NSWorkspace::sharedWorkspace().openURL(SystemUrls::forDeviceType(type));
  } catch (const std::exception& error) {
    writeDiagnostic(std::string("opening the settings pane failed: ") + error.what());
  }
}

}  // namespace harkwell
