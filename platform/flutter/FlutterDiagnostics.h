#pragma once

#include <string>

#include "platform/dispatch/LogLine.h"

// Writes one diagnostic line of the messaging layer to standard error.
// Any thread.
inline void logFlutterDiagnostic(const std::string& text) {
  harkwell::writeDiagnostic("flutter: " + text);
}
