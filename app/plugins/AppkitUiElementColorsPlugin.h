#pragma once

#include "app/plugins/PluginRegistrationLog.h"
#include "platform/flutter/FlutterPluginRegistrar.h"

// Stand-in for the plug-in of the appkit_ui_element_colors framework: the host only registers
// it, so it accepts the registrar and records the registration.
// Thread affinity: main thread.
class AppkitUiElementColorsPlugin {
 public:
  static constexpr const char* moduleName = "appkit_ui_element_colors";

  // Main thread.
  static void registerWith(FlutterPluginRegistrar& registrar) {
    PluginRegistrationLog::shared().record("AppkitUiElementColorsPlugin", registrar);
  }
};
