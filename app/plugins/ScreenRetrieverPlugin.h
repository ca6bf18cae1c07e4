#pragma once

#include "app/plugins/PluginRegistrationLog.h"
#include "platform/flutter/FlutterPluginRegistrar.h"

// Stand-in for the plug-in of the screen_retriever framework: the host only registers
// it, so it accepts the registrar and records the registration.
// Thread affinity: main thread.
class ScreenRetrieverPlugin {
 public:
  static constexpr const char* moduleName = "screen_retriever";

  // Main thread.
  static void registerWith(FlutterPluginRegistrar& registrar) {
    PluginRegistrationLog::shared().record("ScreenRetrieverPlugin", registrar);
  }
};
