#pragma once

#include "app/plugins/PluginRegistrationLog.h"
#include "platform/flutter/FlutterPluginRegistrar.h"

// Stand-in for the plug-in of the clipboard_watcher framework: the host only registers
// it, so it accepts the registrar and records the registration.
// Thread affinity: main thread.
class ClipboardWatcherPlugin {
 public:
  static constexpr const char* moduleName = "clipboard_watcher";

  // Main thread.
  static void registerWith(FlutterPluginRegistrar& registrar) {
    PluginRegistrationLog::shared().record("ClipboardWatcherPlugin", registrar);
  }
};
