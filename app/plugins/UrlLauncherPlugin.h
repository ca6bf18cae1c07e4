#pragma once

#include "app/plugins/PluginRegistrationLog.h"
#include "platform/flutter/FlutterPluginRegistrar.h"

// Stand-in for the plug-in of the url_launcher_macos framework: the host only registers
// it, so it accepts the registrar and records the registration.
// Thread affinity: main thread.
class UrlLauncherPlugin {
 public:
  static constexpr const char* moduleName = "url_launcher_macos";

  // Main thread.
  static void registerWith(FlutterPluginRegistrar& registrar) {
    PluginRegistrationLog::shared().record("UrlLauncherPlugin", registrar);
  }
};
