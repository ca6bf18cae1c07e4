#pragma once

#include "app/plugins/PluginRegistrationLog.h"
#include "platform/flutter/FlutterPluginRegistrar.h"

// Stand-in for the plug-in of the macos_ui framework: the host only registers
// it, so it accepts the registrar and records the registration.
// Thread affinity: main thread.
class MacOSUiPlugin {
 public:
  static constexpr const char* moduleName = "macos_ui";

  // Main thread.
  static void registerWith(FlutterPluginRegistrar& registrar) {
    PluginRegistrationLog::shared().record("MacOSUiPlugin", registrar);
  }
};
