#pragma once

#include "app/plugins/PluginRegistrationLog.h"
#include "platform/flutter/FlutterPluginRegistrar.h"

// Stand-in for the plug-in of the macos_window_utils framework: the host only registers
// it, so it accepts the registrar and records the registration.
// Thread affinity: main thread.
class MacOSWindowUtilsPlugin {
 public:
  static constexpr const char* moduleName = "macos_window_utils";

  // Main thread.
  static void registerWith(FlutterPluginRegistrar& registrar) {
    PluginRegistrationLog::shared().record("MacOSWindowUtilsPlugin", registrar);
  }
};
