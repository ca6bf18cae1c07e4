#include "app/MainFlutterWindow.h"

#include <memory>
#include <utility>

#include "app/GeneratedPluginRegistrant.h"
#include "audio/service/BridgeApi.h"
#include "bridge/BridgeFlutterApi.h"
#include "bridge/BridgeHostApiSetup.h"
#include "platform/flutter/FlutterViewController.h"

namespace harkwell {

MainFlutterWindow::MainFlutterWindow(NSRect contentRect, NSWindowStyleMask styleMask,
                                     NSBackingStoreType backing, bool defer)
    : NSWindow(contentRect, styleMask, backing, defer) {}

void MainFlutterWindow::awakeFromNib() {
  auto owned = std::make_unique<FlutterViewController>();
  // The window owns the controller from here on; it outlives this call.
  FlutterViewController& flutterViewController = *owned;
  const NSRect windowFrame = frame();
  setContentViewController(std::move(owned));
  setFrame(windowFrame, true);

  RegisterGeneratedPlugins(flutterViewController);

  // The engine's messenger lives as long as the controller, that is for the
  // life of the process.
  FlutterBinaryMessenger& messenger = flutterViewController.engine().binaryMessenger();
  auto flutterApi = std::make_shared<BridgeFlutterApi>(messenger, "");
  std::shared_ptr<BridgeApi> api = BridgeApi::create(std::move(flutterApi));
  // The five handlers keep `api`; nothing else here does.
  BridgeHostApiSetup::setUp(messenger, std::move(api), "");

  NSWindow::awakeFromNib();
}

}  // namespace harkwell
