#pragma once

#include "platform/appkit/NSApplicationDelegate.h"

// Base of the application's delegate. The application shell adds the
// application-level callbacks it needs on top.
// Thread affinity: main thread.
class FlutterAppDelegate : public NSApplicationDelegate {
 public:
  ~FlutterAppDelegate() override = default;
};
