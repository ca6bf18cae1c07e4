#pragma once

#include "app/plugins/PluginRegistrationLog.h"
#include "platform/flutter/FlutterPluginRegistrar.h"

// Stand-in for the plug-in of the local_notifier framework: the host only registers
// it, so it accepts the registrar and records the registration.
// Thread affinity: main thread.
class LocalNotifierPlugin {
 public:
  static constexpr const char* moduleName = "local_notifier";

  // Main thread.
  static void registerWith(FlutterPluginRegistrar& registrar) {
    PluginRegistrationLog::shared().record("LocalNotifierPlugin", registrar);
  }
};
