#include "platform/avfoundation/ProcessInfo.h"

#include <tuple>

#include "platform/capture/CaptureBackend.h"

ProcessInfo& ProcessInfo::processInfo() {
  static ProcessInfo instance;
  return instance;
}

OperatingSystemVersion ProcessInfo::operatingSystemVersion() const {
  return harkwell::CaptureBackend::current()->operatingSystemVersion();
}

bool ProcessInfo::isOperatingSystemAtLeastVersion(const OperatingSystemVersion& version) const {
  const auto running = operatingSystemVersion();
  return std::tie(running.majorVersion, running.minorVersion, running.patchVersion) >=
         std::tie(version.majorVersion, version.minorVersion, version.patchVersion);
}
