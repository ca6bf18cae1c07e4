#pragma once

#include "app/plugins/PluginRegistrationLog.h"
#include "platform/flutter/FlutterPluginRegistrar.h"

// Stand-in for the plug-in of the path_provider_foundation framework: the host only registers
// it, so it accepts the registrar and records the registration.
// Thread affinity: main thread.
class PathProviderPlugin {
 public:
  static constexpr const char* moduleName = "path_provider_foundation";

  // Main thread.
  static void registerWith(FlutterPluginRegistrar& registrar) {
    PluginRegistrationLog::shared().record("PathProviderPlugin", registrar);
  }
};
