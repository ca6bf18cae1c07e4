#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/flutter/FlutterEngine.h"

namespace harkwell::test {

// The sixteen plug-in keys, in the order the UI's plug-ins are registered.
inline const std::vector<std::string>& expectedPluginKeys() {
  static const std::vector<std::string> keys = {
      "AppkitUiElementColorsPlugin", "ClipboardWatcherPlugin",
      "DeviceInfoPlusMacosPlugin",   "FlutterScreenCapturePlugin",
      "FlutterWindowClosePlugin",    "HotkeyManagerMacosPlugin",
      "LocalNotifierPlugin",         "MacOSUiPlugin",
      "MacOSWindowUtilsPlugin",      "NetworkInfoPlusPlugin",
      "FPPPackageInfoPlusPlugin",    "PathProviderPlugin",
      "ScreenRetrieverPlugin",       "TrayManagerPlugin",
      "UrlLauncherPlugin",           "WindowManagerPlugin"};
  return keys;
}

// Sets the process-wide default UI program for one test and puts the previous
// one back afterwards.
// Thread affinity: the test's thread.
class ScopedUiProgram {
 public:
  explicit ScopedUiProgram(FlutterUiProgram program)
      : previous_(FlutterEngine::defaultUiProgram()) {
    FlutterEngine::setDefaultUiProgram(std::move(program));
  }
  ~ScopedUiProgram() { FlutterEngine::setDefaultUiProgram(std::move(previous_)); }
  ScopedUiProgram(const ScopedUiProgram&) = delete;
  ScopedUiProgram& operator=(const ScopedUiProgram&) = delete;

 private:
  FlutterUiProgram previous_;
};

}  // namespace harkwell::test
