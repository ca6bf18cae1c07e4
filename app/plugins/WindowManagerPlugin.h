#pragma once

#include "app/plugins/PluginRegistrationLog.h"
#include "platform/flutter/FlutterPluginRegistrar.h"

// Stand-in for the plug-in of the window_manager framework: the host only registers
// it, so it accepts the registrar and records the registration.
// Thread affinity: main thread.
class WindowManagerPlugin {
 public:
  static constexpr const char* moduleName = "window_manager";

  // Main thread.
  static void registerWith(FlutterPluginRegistrar& registrar) {
    PluginRegistrationLog::shared().record("WindowManagerPlugin", registrar);
  }
};
