#pragma once

#include "platform/capture/CaptureTypes.h"

using OperatingSystemVersion = harkwell::OperatingSystemVersion;

// The running system as the current capture backend reports it.
// Thread affinity: any thread.
class ProcessInfo {
 public:
  static ProcessInfo& processInfo();

  OperatingSystemVersion operatingSystemVersion() const;

  // True when the system is `version` or later. Any thread.
  bool isOperatingSystemAtLeastVersion(const OperatingSystemVersion& version) const;
};
