#include "platform/appkit/NSWindow.h"

#include <algorithm>
#include <utility>

#include "platform/appkit/NSApplication.h"

namespace {

NSRect sanitized(NSRect frame) {
  frame.size.width = std::max(0.0, frame.size.width);
  frame.size.height = std::max(0.0, frame.size.height);
  return frame;
}

}  // namespace

NSWindow::NSWindow(NSRect contentRect, NSWindowStyleMask styleMask, NSBackingStoreType /*backing*/,
                   bool /*defer*/)
    : frame_(sanitized(contentRect)), styleMask_(styleMask) {}

NSWindow::~NSWindow() = default;

void NSWindow::setFrame(NSRect frame, bool /*display*/) {
  frame_ = sanitized(frame);
}

void NSWindow::setContentViewController(std::unique_ptr<NSViewController> controller) {
  contentViewController_ = std::move(controller);
}

void NSWindow::setIsVisible(bool visible) {
  visible_ = visible;
}

void NSWindow::makeKeyAndOrderFront(NSObject* /*sender*/) {
  setIsVisible(true);
  if (application_ != nullptr) application_->windowBecameKeyAndFront(*this);
}

bool NSWindow::isKeyWindow() const {
  return application_ != nullptr && application_->keyWindow() == this;
}

void NSWindow::close() {
  const bool wasVisible = visible_;
  setIsVisible(false);
  if (application_ != nullptr && wasVisible) application_->windowDidClose(*this);
}
