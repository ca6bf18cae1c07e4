#pragma once

#include "app/plugins/PluginRegistrationLog.h"
#include "platform/flutter/FlutterPluginRegistrar.h"

// Stand-in for the plug-in of the flutter_screen_capture framework: the host only registers
// it, so it accepts the registrar and records the registration.
// Thread affinity: main thread.
class FlutterScreenCapturePlugin {
 public:
  static constexpr const char* moduleName = "flutter_screen_capture";

  // Main thread.
  static void registerWith(FlutterPluginRegistrar& registrar) {
    PluginRegistrationLog::shared().record("FlutterScreenCapturePlugin", registrar);
  }
};
