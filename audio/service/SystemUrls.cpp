#include "audio/service/SystemUrls.h"

namespace harkwell {

std::string_view SystemUrls::forDeviceType(AudioDeviceType type) {
  // A display's system audio is recorded through screen capture, so output
  // needs the screen-capture grant, not a microphone one.
  return type == AudioDeviceType::output ? screenCapture : microphone;
}

}  // namespace harkwell
