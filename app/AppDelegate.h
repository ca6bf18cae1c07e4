#pragma once

#include "platform/flutter/FlutterAppDelegate.h"

namespace harkwell {

// The application's delegate, created by the main interface as "AppDelegate".
// It keeps the process alive when the last window closes, and a reopen with no
// visible window shows every window of the application again.
// Thread affinity: main thread; AppKit calls it there.
class AppDelegate final : public FlutterAppDelegate {
 public:
  AppDelegate() = default;

  // Always false: closing windows never ends the process. Main thread.
  bool applicationShouldTerminateAfterLastWindowClosed(NSApplication& sender) override;

  // With a visible window does nothing; otherwise shows each of the
  // application's windows in list order, bringing it forward with this
  // delegate as sender and activating the application once per window.
  // Returns true. Main thread.
  bool applicationShouldHandleReopen(NSApplication& sender, bool hasVisibleWindows) override;
};

}  // namespace harkwell
