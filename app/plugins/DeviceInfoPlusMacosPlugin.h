#pragma once

#include "app/plugins/PluginRegistrationLog.h"
#include "platform/flutter/FlutterPluginRegistrar.h"

// Stand-in for the plug-in of the device_info_plus framework: the host only registers
// it, so it accepts the registrar and records the registration.
// Thread affinity: main thread.
class DeviceInfoPlusMacosPlugin {
 public:
  static constexpr const char* moduleName = "device_info_plus";

  // Main thread.
  static void registerWith(FlutterPluginRegistrar& registrar) {
    PluginRegistrationLog::shared().record("DeviceInfoPlusMacosPlugin", registrar);
  }
};
