#pragma once

#include "platform/appkit/NSWindow.h"

namespace harkwell {

// The main window, created by the main interface as "MainFlutterWindow". When
// woken it shows the UI engine's view controller, registers the plug-ins, and
// connects the bridge: one BridgeFlutterApi for events and one BridgeApi behind
// the five host channels, both without a channel suffix. It keeps nothing but
// its content view controller; the channel handlers keep the BridgeApi.
// Thread affinity: main thread.
class MainFlutterWindow final : public NSWindow {
 public:
  // Hands its arguments unchanged to NSWindow. Main thread.
  MainFlutterWindow(NSRect contentRect, NSWindowStyleMask styleMask, NSBackingStoreType backing,
                    bool defer);

  // Main thread.
  void awakeFromNib() override;
};

}  // namespace harkwell
