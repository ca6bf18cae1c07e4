#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/capture/NSError.h"

namespace harkwell {
class CaptureBackend;
}

// A display that may be captured. A value: copies are the same display. It
// remembers the backend that listed it, so a stream on it runs on that backend.
// Thread affinity: any thread.
class SCDisplay {
 public:
  // A display on the current backend; for callers that know the id already.
  explicit SCDisplay(std::uint32_t displayID);
  SCDisplay(std::uint32_t displayID, std::shared_ptr<harkwell::CaptureBackend> backend);

  std::uint32_t displayID() const { return displayID_; }
  const std::shared_ptr<harkwell::CaptureBackend>& backend() const { return backend_; }

  bool isEqual(const SCDisplay& other) const;
  friend bool operator==(const SCDisplay& a, const SCDisplay& b) { return a.isEqual(b); }

 private:
  std::uint32_t displayID_;
  std::shared_ptr<harkwell::CaptureBackend> backend_;
};

// A window; none is ever listed, so filters exclude nothing.
struct SCWindow {};

// What may be captured right now. Thread affinity: a value; any thread.
class SCShareableContent {
 public:
  explicit SCShareableContent(std::vector<SCDisplay> displays) : displays_(std::move(displays)) {}

  const std::vector<SCDisplay>& displays() const { return displays_; }

  using CompletionHandler =
      std::function<void(std::optional<SCShareableContent> content, std::optional<NSError> error)>;

  // Queries the shareable content. `completionHandler` runs exactly once, with
  // the content or, when capture is not allowed or not possible, the error; on
  // a thread of the backend's choosing, possibly inside this call. Any thread.
  static void getShareableContentExcludingDesktopWindows(bool excludeDesktopWindows,
                                                         bool onScreenWindowsOnly,
                                                         CompletionHandler completionHandler);

 private:
  std::vector<SCDisplay> displays_;
};
