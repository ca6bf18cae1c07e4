#pragma once

// Common base of the objects that the main interface creates by class name and
// of the senders passed to window actions.
// Thread affinity: main thread, like every AppKit object.
class NSObject {
 public:
  virtual ~NSObject() = default;
};
