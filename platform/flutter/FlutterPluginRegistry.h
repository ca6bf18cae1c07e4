#pragma once

#include <string>

#include "platform/flutter/FlutterPluginRegistrar.h"

// Hands out one registrar per plug-in key.
// Thread affinity: main thread.
class FlutterPluginRegistry {
 public:
  virtual ~FlutterPluginRegistry() = default;

  // The registrar for `pluginKey`; it lives as long as the registry. Asking
  // again for a key returns the same registrar. Main thread.
  virtual FlutterPluginRegistrar& registrarForPlugin(const std::string& pluginKey) = 0;
};
