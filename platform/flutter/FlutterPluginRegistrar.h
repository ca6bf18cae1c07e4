#pragma once

#include "platform/flutter/FlutterBinaryMessenger.h"

// What a plug-in gets when it registers: access to the engine's messenger.
// Owned by the registry that handed it out.
// Thread affinity: main thread.
class FlutterPluginRegistrar {
 public:
  virtual ~FlutterPluginRegistrar() = default;

  // The engine's host messenger. Main thread.
  virtual FlutterBinaryMessenger& messenger() = 0;
};
