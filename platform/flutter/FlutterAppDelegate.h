#pragma once

#include "platform/appkit/NSApplicationDelegate.h"

// Base of the application's delegate; it keeps AppKit's defaults, and the
// application shell overrides what it decides.
// Thread affinity: main thread.
class FlutterAppDelegate : public NSApplicationDelegate {};
