#pragma once

#include "app/plugins/PluginRegistrationLog.h"
#include "platform/flutter/FlutterPluginRegistrar.h"

// Stand-in for the plug-in of the network_info_plus framework: the host only registers
// it, so it accepts the registrar and records the registration.
// Thread affinity: main thread.
class NetworkInfoPlusPlugin {
 public:
  static constexpr const char* moduleName = "network_info_plus";

  // Main thread.
  static void registerWith(FlutterPluginRegistrar& registrar) {
    PluginRegistrationLog::shared().record("NetworkInfoPlusPlugin", registrar);
  }
};
