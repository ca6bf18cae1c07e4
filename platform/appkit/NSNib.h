#pragma once

#include <string>
#include <vector>

#include "platform/appkit/NSClassRegistry.h"

class NSApplication;

// One window of an interface description.
struct NSNibWindow {
  std::string className;
  NSWindowParameters parameters;
  std::string title;
  bool visibleAtLaunch = true;
};

// An interface description: the objects to create, by class name. Loading it
// creates the delegate and the windows through NSClassRegistry, sets the
// delegate, adds the windows to the application, sends every window
// awakeFromNib and then shows the windows visible at launch.
// Thread affinity: main thread.
struct NSNib {
  std::string delegateClassName;
  std::vector<NSNibWindow> windows;

  // The application's main interface, the one NSApplicationMain loads: an
  // "AppDelegate" and a "MainFlutterWindow". Any thread.
  static const NSNib& mainInterface();

  // Throws std::runtime_error naming the class when a class is not registered
  // or is not of the kind its place needs; nothing is added to the application
  // then. Exceptions from awakeFromNib pass through. Main thread.
  void instantiate(NSApplication& application) const;
};
