#pragma once

#include "platform/appkit/NSObject.h"

class NSApplication;

// What the application asks its delegate. Every method has AppKit's default, so
// a delegate overrides only what it decides.
// Thread affinity: main thread; the application calls every method there.
class NSApplicationDelegate : public NSObject {
 public:
  // Once the main interface is loaded, before the run loop starts. Main thread.
  virtual void applicationDidFinishLaunching(NSApplication& /*application*/) {}

  // After a window closed and none is visible: true ends the application.
  // Main thread.
  virtual bool applicationShouldTerminateAfterLastWindowClosed(NSApplication& /*sender*/) {
    return false;
  }

  // The user reopened the running application (as by its Dock icon). Main thread.
  virtual bool applicationShouldHandleReopen(NSApplication& /*sender*/,
                                             bool /*hasVisibleWindows*/) {
    return true;
  }

  // Termination is under way; the run loop stops after this returns. Main thread.
  virtual void applicationWillTerminate(NSApplication& /*application*/) {}
};
