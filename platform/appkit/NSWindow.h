#pragma once

#include <memory>
#include <string>

#include "platform/appkit/NSGeometry.h"
#include "platform/appkit/NSObject.h"
#include "platform/appkit/NSViewController.h"

class NSApplication;

// A window of the application. There is no screen: the window keeps its frame,
// visibility, key status and content view controller, and tells the
// application when it closes. Closing hides the window; it stays in the
// application's window list so that a reopen can show it again.
// Thread affinity: main thread.
class NSWindow : public NSObject {
 public:
  // The frame is the content rectangle (a console window has no decorations).
  // Negative sizes count as zero. Main thread.
  NSWindow(NSRect contentRect, NSWindowStyleMask styleMask, NSBackingStoreType backing, bool defer);
  ~NSWindow() override;

  NSWindow(const NSWindow&) = delete;
  NSWindow& operator=(const NSWindow&) = delete;

  // Main thread.
  NSRect frame() const { return frame_; }
  // `display` asks for a redraw; there is nothing to draw here. Main thread.
  virtual void setFrame(NSRect frame, bool display);

  NSWindowStyleMask styleMask() const { return styleMask_; }
  const std::string& title() const { return title_; }
  void setTitle(std::string title) { title_ = std::move(title); }

  // The window owns its content view controller; null until one is set. Main thread.
  NSViewController* contentViewController() const { return contentViewController_.get(); }
  // Replaces (and destroys) the previous controller. Main thread.
  virtual void setContentViewController(std::unique_ptr<NSViewController> controller);

  // Main thread.
  bool isVisible() const { return visible_; }
  virtual void setIsVisible(bool visible);

  // Shows the window, makes it the key window and puts it in front of the
  // application's other windows. `sender` may be null. Main thread.
  virtual void makeKeyAndOrderFront(NSObject* sender);
  bool isKeyWindow() const;

  // Hides the window; the application then asks its delegate whether the last
  // visible window closing ends it. Main thread.
  virtual void close();

  // Sent by the main interface once every object in it exists. Main thread.
  virtual void awakeFromNib() {}

 private:
  friend class NSApplication;

  NSRect frame_;
  NSWindowStyleMask styleMask_;
  std::string title_;
  std::unique_ptr<NSViewController> contentViewController_;
  bool visible_ = false;
  // Set while the window is in an application's window list.
  NSApplication* application_ = nullptr;
};
