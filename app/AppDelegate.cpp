#include "app/AppDelegate.h"

#include <memory>
#include <vector>

#include "platform/appkit/NSApplication.h"

namespace harkwell {

bool AppDelegate::applicationShouldTerminateAfterLastWindowClosed(NSApplication& /*sender*/) {
  return false;
}

bool AppDelegate::applicationShouldHandleReopen(NSApplication& sender, bool hasVisibleWindows) {
  if (hasVisibleWindows) return true;
  // A copy: bringing a window forward must not disturb the walk over the list.
  const std::vector<std::shared_ptr<NSWindow>> windows = sender.windows();
  for (const std::shared_ptr<NSWindow>& window : windows) {
    if (!window->isVisible()) window->setIsVisible(true);
    window->makeKeyAndOrderFront(this);
    // Once per window, inside the loop, as the application always did.
    sender.activateIgnoringOtherApps(true);
  }
  return true;
}

}  // namespace harkwell
