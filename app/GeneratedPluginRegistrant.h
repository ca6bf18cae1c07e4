#pragma once

#include "platform/flutter/FlutterPluginRegistry.h"

namespace harkwell {

// Registers the UI's sixteen plug-ins with `registry`, in alphabetical order of
// their modules: for each, a registrar asked for under the plug-in's class
// name is handed to the plug-in's registration method. Main thread.
void RegisterGeneratedPlugins(FlutterPluginRegistry& registry);

}  // namespace harkwell
