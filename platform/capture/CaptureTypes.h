#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/capture/NSError.h"
#include "platform/coremedia/CMSampleBuffer.h"

namespace harkwell {

// Plain values that cross the capture seam. Thread affinity: values; any thread.

struct OperatingSystemVersion {
  int majorVersion = 0;
  int minorVersion = 0;
  int patchVersion = 0;
};

// A microphone as the backend lists it; `uniqueID` is stable and opens it again.
struct MicrophoneInfo {
  std::string uniqueID;
  std::string localizedName;
  friend bool operator==(const MicrophoneInfo&, const MicrophoneInfo&) = default;
};

// A display whose system audio can be captured.
struct DisplayInfo {
  std::uint32_t displayID = 0;
  friend bool operator==(const DisplayInfo&, const DisplayInfo&) = default;
};

// Microphone authorisation, with the platform's raw values.
enum class CaptureAuthorizationStatus : int {
  notDetermined = 0,
  restricted = 1,
  denied = 2,
  authorized = 3,
};

// What a microphone consumer asks for. A backend may deliver another format;
// every delivered buffer describes its own format.
struct AudioOutputSettings {
  std::uint32_t formatID = 0;  // e.g. 'lpcm'
  int numberOfChannels = 0;    // 0: the device's own
  double sampleRate = 0;       // Hz; 0: the device's own
};

// Configuration of a display stream.
struct DisplayStreamSettings {
  bool capturesAudio = false;
  double minimumFrameIntervalSeconds = 0;  // 0: the backend's default frame rate
};

// The two kinds of display-stream output, with the platform's raw values.
enum class DisplayOutputKind : int { screen = 0, audio = 1 };

// Answer to a shareable-content query: either `error` is set, or `displays`
// holds the displays in platform order.
struct ShareableContentAnswer {
  std::vector<DisplayInfo> displays;
  std::optional<NSError> error;
};

// Error codes of kCaptureErrorDomain.
enum class CaptureErrorCode : std::int64_t {
  noBackend = 1,
  deviceNotFound = 2,
  deviceUnavailable = 3,
  outputRejected = 4,
  startFailed = 5,
  stopFailed = 6,
  stoppedUnexpectedly = 7,
  notPermitted = 8,
};

inline NSError makeCaptureError(CaptureErrorCode code, std::string description) {
  return NSError(kCaptureErrorDomain, static_cast<std::int64_t>(code), std::move(description));
}

using SampleBufferHandler = std::function<void(CMSampleBufferRef)>;
using CaptureCompletion = std::function<void(std::optional<NSError>)>;
using StreamStoppedHandler = std::function<void(NSError)>;

}  // namespace harkwell
