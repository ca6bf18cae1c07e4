#pragma once

#include "app/plugins/PluginRegistrationLog.h"
#include "platform/flutter/FlutterPluginRegistrar.h"

// Stand-in for the plug-in of the flutter_window_close framework: the host only registers
// it, so it accepts the registrar and records the registration.
// Thread affinity: main thread.
class FlutterWindowClosePlugin {
 public:
  static constexpr const char* moduleName = "flutter_window_close";

  // Main thread.
  static void registerWith(FlutterPluginRegistrar& registrar) {
    PluginRegistrationLog::shared().record("FlutterWindowClosePlugin", registrar);
  }
};
