#pragma once

#include "app/plugins/PluginRegistrationLog.h"
#include "platform/flutter/FlutterPluginRegistrar.h"

// Stand-in for the plug-in of the hotkey_manager_macos framework: the host only registers
// it, so it accepts the registrar and records the registration.
// Thread affinity: main thread.
class HotkeyManagerMacosPlugin {
 public:
  static constexpr const char* moduleName = "hotkey_manager_macos";

  // Main thread.
  static void registerWith(FlutterPluginRegistrar& registrar) {
    PluginRegistrationLog::shared().record("HotkeyManagerMacosPlugin", registrar);
  }
};
