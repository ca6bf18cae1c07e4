#pragma once

#include <vector>

#include "platform/screencapturekit/SCShareableContent.h"

// What a stream captures: one display, minus the excluded windows.
// Thread affinity: a value; any thread.
class SCContentFilter {
 public:
  SCContentFilter(SCDisplay display, std::vector<SCWindow> excludingWindows)
      : display_(std::move(display)), excludedWindows_(std::move(excludingWindows)) {}

  const SCDisplay& display() const { return display_; }
  const std::vector<SCWindow>& excludedWindows() const { return excludedWindows_; }

 private:
  SCDisplay display_;
  std::vector<SCWindow> excludedWindows_;
};
