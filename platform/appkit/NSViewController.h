#pragma once

// A window's content view controller.
// Thread affinity: main thread.
class NSViewController {
 public:
  virtual ~NSViewController() = default;
};
