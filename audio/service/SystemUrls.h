#pragma once

#include <string_view>

#include "bridge/AudioDeviceType.h"

namespace harkwell {

// The system-settings links that open the Security & Privacy pane where the
// user grants a capture permission. Fixed, well-formed absolute links.
// Thread affinity: constants; any thread.
class SystemUrls {
 public:
  SystemUrls() = delete;

  // The pane at the screen-capture permission, needed for system audio.
  static constexpr std::string_view screenCapture =
      "x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture";
  // The pane at the microphone permission.
  static constexpr std::string_view microphone =
      "x-apple.systempreferences:com.apple.preference.security?Privacy_Microphone";

  // The link for the permission that capturing `type` needs: the screen-capture
  // pane for output, the microphone pane for input. Any thread.
  static std::string_view forDeviceType(AudioDeviceType type);
};

}  // namespace harkwell
